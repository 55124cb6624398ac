#include "download/create_downloader.h"

#include "download/http/auto_download_down_ant.h"
#include "download/tarn/auto_download_tarn.h"

std::unique_ptr<CAutoDownload> CreateDownloader(uint32_t kind) {
    if (kind == 0) return std::make_unique<CAutoDownload_DownAnt>();
    if (kind == 1) {
        auto engine = std::make_unique<CAutoDownload_Tarn>();
        if (engine->usable()) return engine;
    }
    return nullptr;
}
