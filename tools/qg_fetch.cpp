// qg-fetch URL FILE: fetches one URL with the launcher's downloader and prints every
// state change and the progress. Exit status 0 only when the file is complete.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "download/create_downloader.h"
#include "download/progress_format.h"
#include "platform/messages.h"
#include "platform/program_options.h"
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

constexpr platform::ProgramOption kOptions[] = {
    {"--help", nullptr, "print this help and end"},
    {"--version", nullptr, "print the version and end"},
};

constexpr const char* kSynopsis = "Usage: qg-fetch URL FILE\n";

int Usage(const std::string& why) {
    std::fprintf(stderr, "qg-fetch: %s\n%s(qg-fetch --help says more)\n", why.c_str(), kSynopsis);
    return 2;
}

int Help() {
    std::fputs(kSynopsis, stdout);
    std::fputs(
        "Fetches one URL into FILE with the launcher's HTTP downloader and prints each state\n"
        "change and the progress on standard output, then the result. The file is received\n"
        "beside FILE and put at its name only when it is complete.\n"
        "\nOptions:\n",
        stdout);
    platform::PrintOptions(stdout, kOptions);
    std::fputs("\nExit status: 0 when FILE is complete, 1 when it is not, 2 for a usage error.\n",
               stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> operands;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!platform::LooksLikeOption(arg)) {
            operands.push_back(arg);
            continue;
        }
        if (platform::FindOption(kOptions, arg) == nullptr) return Usage("unknown option " + arg);
        if (arg == "--help") return Help();
        return platform::PrintVersion("qg-fetch", QG_VERSION);
    }
    if (operands.size() != 2) return Usage("expected URL and FILE");
    // The downloader takes narrow GBK strings; the command line is UTF-8.
    std::string url, file;
    if (!platform::Utf8ToGbk(operands[0], url) || !platform::Utf8ToGbk(operands[1], file)) {
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
