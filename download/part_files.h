// Downloads are received into a part file beside their destination and renamed over it
// once complete, so a killed run leaves at most part files under a name of their own.
#pragma once

#include <string>

// The part file of a destination is the destination's path plus this suffix.
inline constexpr const char* kDownloadPartSuffix = ".~dl";

// Removes the download part files that a killed run left in a directory (GBK path, not
// recursive). Returns how many were removed.
int RemoveStalePartFiles(const std::string& gbkDirectory);
