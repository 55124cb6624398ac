// The factory through which every pipeline gets its downloader.
#pragma once

#include <cstdint>
#include <memory>

#include "download/auto_download.h"

// Kind 0: the HTTP downloader. Kind 1 (the peer-assisted engine backend) gives none while
// the engine is not part of the build; any other kind gives none.
std::unique_ptr<CAutoDownload> CreateDownloader(uint32_t kind);
