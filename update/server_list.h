// The game's server list, stored scrambled in the download directory for the client.
// The format, field by field: docs/formats/server-list.md
#pragma once

#include <string_view>

// Every plain server list contains this text.
inline constexpr const char* kServerListMarker = "SERVER_BEGIN";

// Puts the list downloaded to `downloadedPath` in place at `listPath`: scrambled when it
// is plain (holds the marker anywhere, NUL bytes included), byte for byte when it
// arrived scrambled, and removes the downloaded file. `listPath` is replaced as a whole,
// so it keeps the last good list when this fails.
enum class ServerListStore {
    Stored,
    NoList,       // the download is empty or cannot be read
    CannotWrite,  // `listPath` cannot be replaced
};
ServerListStore StoreServerList(std::string_view downloadedPath, std::string_view listPath);
