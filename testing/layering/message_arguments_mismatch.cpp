// Build probe: a message filled with arguments its format does not take must not compile.
#include "update/message_table.h"

int main() { return static_cast<int>(FormatMessage<MessageId::kVersions>(7).size()); }
