// Build probe: the download layer reaching sideways into update/. Linked with the
// download library alone it must fail.
#include "update/version.h"

int main() { return static_cast<int>(CompareVersion(ParseVersion("CN.1"), ParseVersion("CN.2"))); }
