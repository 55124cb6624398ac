#include "download/create_downloader.h"

#include "download/http/auto_download_down_ant.h"

std::unique_ptr<CAutoDownload> CreateDownloader(uint32_t kind) {
    if (kind == 0) return std::make_unique<CAutoDownload_DownAnt>();
    // Kind 1 is the engine backend, which reports itself unusable until the engine exists.
    return nullptr;
}
