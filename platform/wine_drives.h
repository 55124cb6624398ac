// Where the drives of a Wine prefix lie: each drive letter is a link in the prefix's
// "dosdevices" folder ("dosdevices/d:" -> "/mnt/games", "c:" -> "../drive_c").
#pragma once

#include <string>

namespace platform {

// The native folder that drive `letter` of the Wine prefix `nativePrefix` maps to, with
// every link resolved; empty when the prefix has no such drive.
std::string WineDriveRoot(const std::string& nativePrefix, char letter);

}  // namespace platform
