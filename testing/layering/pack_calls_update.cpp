// Build probe: the pack library's level reaching up into update/. Linked with the pack
// library alone it must fail: the library does not bring the upper layer along.
#include "update/version.h"

int main() { return static_cast<int>(CompareVersion(ParseVersion("CN.1"), ParseVersion("CN.2"))); }
