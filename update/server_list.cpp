#include "update/server_list.h"

#include <string>

#include "platform/file_system.h"
#include "platform/text_file.h"
#include "update/position_key.h"

bool StoreServerListScrambled(std::string_view path) {
    std::string data;
    if (!platform::ReadWholeFile(path, data)) return false;
    if (data.find(kServerListMarker) == std::string::npos) return true;
    ScrambleBuffer(data.data(), data.size());
    return platform::WriteFileReplacing(path, data);
}
