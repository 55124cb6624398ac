// qg-fetch URL FILE: fetches one URL with the launcher's downloader and prints every
// state change and the progress. Exit status 0 only when the file is complete.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "download/create_downloader.h"
#include "download/progress_format.h"
#include "platform/messages.h"
#include "platform/text_encoding.h"

namespace {

CAutoDownload* gDownloader = nullptr;

const char* PhaseName(uint32_t code) {
    switch (code & kDownloadPhaseMask) {
        case kDownloadPhaseIdle:
            return "idle";
        case kDownloadPhaseRunning:
            return "running";
        case kDownloadPhaseFinished:
            return "finished";
        default:
            return "failed";
    }
}

intptr_t FetchWindowProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                         intptr_t lParam) {
    if (message == WM_DOWNLOAD_STATE) {
        const auto code = static_cast<uint32_t>(lParam);
        std::printf("state 0x%08X %s\n", code, PhaseName(code));
        return 1;
    }
    if (message == WM_DOWNLOAD_PROGRESS && gDownloader != nullptr) {
        int64_t total = 0, done = 0;
        gDownloader->GetProgress(total, done);
        std::printf("progress %s/%s %s/S\n", FormatByteSize(done).c_str(),
                    FormatByteSize(total).c_str(), FormatByteSize(gDownloader->GetSpeed()).c_str());
        return 1;
    }
    return platform::DefWindowProc(window, message, wParam, lParam);
}

int Usage() {
    std::fprintf(stderr, "usage: qg-fetch URL FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return Usage();
    // The downloader takes narrow GBK strings; the command line is UTF-8.
    std::string url, file;
    if (!platform::Utf8ToGbk(argv[1], url) || !platform::Utf8ToGbk(argv[2], file)) {
        std::fprintf(stderr, "qg-fetch: URL and FILE must be representable in GBK\n");
        return 2;
    }
    platform::RegisterWindowClass("QG_FETCH_WINDOW_CLASS", FetchWindowProc);
    const platform::WindowHandle window = platform::CreateMessageWindow("QG_FETCH_WINDOW_CLASS");

    std::unique_ptr<CAutoDownload> downloader = CreateDownloader(0);
    gDownloader = downloader.get();
    downloader->SetTask(url.c_str(), file.c_str(), window, 0);
    downloader->Start();
    downloader->Wait(true);
    const uint32_t state = downloader->GetState();
    int64_t total = 0, done = 0;
    downloader->GetProgress(total, done);
    std::printf("result 0x%08X %s %s/%s\n", state, PhaseName(state), FormatByteSize(done).c_str(),
                FormatByteSize(total).c_str());
    if (const int localError = downloader->GetLocalError())
        std::printf("local error %d: %s\n", localError, std::strerror(localError));
    gDownloader = nullptr;
    downloader.reset();
    platform::DestroyMessageWindow(window);
    return (state & kDownloadPhaseMask) == kDownloadPhaseFinished ? 0 : 1;
}
