// qg-get URL... -o FILE [--md5 HEX] [--lookup HOST:PORT] [--connections N] [--json]
// Fetches one file (every URL a mirror of it) with the download engine, through its C
// interface alone, and reports progress on stderr (--json: as JSON lines on stdout). Exit
// status 0 only when the file is complete. A second run after an interrupted one continues from the
// file's resume state.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/json_line.h"
#include "platform/program_options.h"
#include "quillgate/tarn.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailed = 1;

struct Options {
    std::vector<std::string> urls;
    std::string output;
    std::string md5;
    std::string lookup;
    uint32_t connections = 0;
    bool json = false;
};

struct Progress {
    TarnTask* task = nullptr;
    int64_t lastBytes = 0;
    std::chrono::steady_clock::time_point lastTime = std::chrono::steady_clock::now();
    bool terminal = false;
    bool json = false;
    bool portShown = false;
};
Progress gProgress;

constexpr platform::ProgramOption kOptions[] = {
    {"-o", "FILE", "where the file is written (required)"},
    {"--md5", "HEX", "the file's MD5 (32 hex digits): a file that differs is not kept"},
    {"--lookup", "HOST:PORT", "a lookup server that names more sources of the file"},
    {"--connections", "N", "connections at most, 1 to 64"},
    {"--json", nullptr,
     "progress and the end as JSON lines on standard output, nothing else there"},
    {"--help", nullptr, "print this help and end"},
    {"--version", nullptr, "print the version and end"},
};

constexpr const char* kSynopsis = "Usage: qg-get URL... -o FILE [OPTION]...\n";

int Usage(const std::string& why) {
    std::fprintf(stderr, "qg-get: %s\n%s(qg-get --help lists the options)\n", why.c_str(),
                 kSynopsis);
    return kExitUsage;
}

int Help() {
    std::fputs(kSynopsis, stdout);
    std::fputs(
        "Fetches one file with the download engine, through its C interface alone. Every URL\n"
        "is a mirror of the file and all are fetched from at once. Run again after an\n"
        "interruption, it continues from FILE's resume state when that describes the same\n"
        "first URL. Progress goes to standard error.\n"
        "\nOptions:\n",
        stdout);
    platform::PrintOptions(stdout, kOptions);
    std::fputs("\nExit status: 0 when FILE is complete, 1 when it is not, 2 for a usage error.\n",
               stdout);
    return 0;
}

bool ParseCount(const char* text, uint32_t& out) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < 1 || value > 64) return false;
    out = static_cast<uint32_t>(value);
    return true;
}

bool Parse(int argc, char** argv, Options& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!platform::LooksLikeOption(arg)) {
            o.urls.push_back(arg);
            continue;
        }
        const platform::ProgramOption* option = platform::FindOption(kOptions, arg);
        if (option == nullptr) {
            error = "unknown option " + arg;
            return false;
        }
        if (arg == "--json") o.json = true;
        if (option->value == nullptr) continue;
        if (i + 1 >= argc) {
            error = arg + " needs a value (" + option->value + ")";
            return false;
        }
        const char* value = argv[++i];
        if (arg == "-o") o.output = value;
        if (arg == "--md5") o.md5 = value;
        if (arg == "--lookup") o.lookup = value;
        if (arg == "--connections" && !ParseCount(value, o.connections)) {
            error = "--connections takes a number from 1 to 64";
            return false;
        }
    }
    if (o.output.empty()) error = "no output file (-o FILE)";
    if (o.urls.empty()) error = "no URL";
    return !o.output.empty() && !o.urls.empty();
}

void ShowProgress(bool last) {
    unsigned char block[TARN_STATUS_BLOCK_SIZE];
    if (!TarnGetStatusInfo(gProgress.task, block)) return;
    int64_t total = 0, received = 0;
    std::memcpy(&total, block + TARN_STATUS_TOTAL_OFFSET, sizeof total);
    std::memcpy(&received, block + TARN_STATUS_RECEIVED_OFFSET, sizeof received);
    int32_t sources = 0;
    std::memcpy(&sources, block + TARN_STATUS_SOURCES_OFFSET, sizeof sources);
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - gProgress.lastTime).count();
    const double speed = seconds > 0 ? (received - gProgress.lastBytes) / seconds : 0;
    gProgress.lastBytes = received;
    gProgress.lastTime = now;
    if (!gProgress.portShown && TarnGetPort() != 0) {
        gProgress.portShown = true;
        if (gProgress.json)
            platform::JsonLine()
                .Text("event", "port")
                .Number("port", TarnGetPort())
                .WriteTo(stdout);
        else
            std::fprintf(stderr, "block server port %u\n", TarnGetPort());
    }
    if (gProgress.json) {
        platform::JsonLine()
            .Text("event", "progress")
            .Number("bytes", received)
            .Number("size", total)
            .Number("speed", static_cast<int64_t>(speed))
            .Number("sources", sources)
            .WriteTo(stdout);
        return;
    }
    std::fprintf(stderr, "%s%lld/%lld bytes %.0f B/s sources %ld%s", gProgress.terminal ? "\r" : "",
                 static_cast<long long>(received), static_cast<long long>(total), speed,
                 static_cast<long>(sources), gProgress.terminal && !last ? "" : "\n");
}

// Why the download ended, in a word for scripts.
const char* EndCause(uint32_t state) {
    switch (state) {
        case TARN_STATUS_COMPLETED:
            return "complete";
        case TARN_STATUS_PAUSED:
            return "paused";
        default:
            return "failed";  // no source could deliver the rest, or a check failed
    }
}

void ShowEnd(uint32_t state, const char* cause) {
    const bool complete = state == TARN_STATUS_COMPLETED;
    if (gProgress.json)
        platform::JsonLine()
            .Text("event", "end")
            .Bool("complete", complete)
            .Text("cause", cause)
            .Number("state", state)
            .WriteTo(stdout);
    std::fprintf(stderr, "qg-get: %s (state %u)\n", complete ? "complete" : "not complete", state);
}

// Every URL is a mirror of the one file: all are fetched from at once. A download by URL
// continues from FILE's resume state when that describes the same URL and can be trusted,
// and starts afresh otherwise.
int32_t StartDownload(TarnTask* task, const Options& o) {
    std::vector<const char*> mirrors;
    for (size_t i = 1; i < o.urls.size(); ++i) mirrors.push_back(o.urls[i].c_str());
    if (!TarnAddMirrors(task, mirrors.data(), static_cast<int32_t>(mirrors.size()))) return 0;
    return TarnDownloadUrl(task, o.urls[0].c_str(), "", o.output.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    // Asking is answered before anything else is checked.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) return Help();
        if (std::strcmp(argv[i], "--version") == 0)
            return platform::PrintVersion("qg-get", QG_VERSION);
    }
    Options o;
    std::string error;
    if (!Parse(argc, argv, o, error)) return Usage(error);
    TarnInitLibrary();
    if (!o.lookup.empty()) TarnSetLookupServer(o.lookup.c_str());
    if (o.connections > 0) TarnSetConnectionLimits(o.connections, o.connections * 4);
    TarnTask* task = CreateTarnTask();
    gProgress.task = task;
    gProgress.terminal = isatty(STDERR_FILENO) != 0;
    gProgress.json = o.json;
    if (!o.md5.empty() && !TarnSetExpectedMD5(task, o.md5.c_str())) {
        DestroyTarnTask(task);
        return Usage("--md5 takes 32 hexadecimal digits");
    }
    if (!StartDownload(task, o)) {
        std::fprintf(stderr, "qg-get: the download could not start\n");
        ShowEnd(TARN_STATUS_IDLE, "not started");
        DestroyTarnTask(task);
        return kExitFailed;
    }
    // The status block tells the end too: a state past "downloading" is final.
    const auto period =
        std::chrono::milliseconds(gProgress.terminal && !gProgress.json ? 250 : 1000);
    auto nextShow = std::chrono::steady_clock::now() + period;
    uint32_t state = TARN_STATUS_IDLE;
    for (;;) {
        unsigned char block[TARN_STATUS_BLOCK_SIZE];
        if (TarnGetStatusInfo(task, block)) {
            std::memcpy(&state, block + TARN_STATUS_STATE_OFFSET, sizeof state);
        }
        if (state > TARN_STATUS_DOWNLOADING) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (std::chrono::steady_clock::now() >= nextShow) {
            ShowProgress(false);
            nextShow += period;
        }
    }
    TarnWaitDownload(task);
    ShowProgress(true);
    DestroyTarnTask(task);
    ShowEnd(state, EndCause(state));
    return state == TARN_STATUS_COMPLETED ? 0 : kExitFailed;
}
