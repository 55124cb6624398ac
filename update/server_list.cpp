#include "update/server_list.h"

#include <string>

#include "platform/file_system.h"
#include "platform/text_file.h"
#include "update/position_key.h"

ServerListStore StoreServerList(std::string_view downloadedPath, std::string_view listPath) {
    std::string data;
    const bool read = platform::ReadWholeFile(downloadedPath, data).ok();
    platform::DeleteFileAt(downloadedPath);
    // An empty answer is no list: the game would find no server at all.
    if (!read || data.empty()) return ServerListStore::NoList;
    if (data.find(kServerListMarker) != std::string::npos) ScrambleBuffer(data.data(), data.size());
    return platform::WriteFileReplacing(listPath, data) ? ServerListStore::Stored
                                                        : ServerListStore::CannotWrite;
}
