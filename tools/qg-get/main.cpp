// qg-get URL... -o FILE [--md5 HEX] [--blocks URL|FILE] [--blocks-sha256 HEX]
//        [--max-size BYTES] [--lookup HOST:PORT] [--connections N] [--json]
//        [--peer-listen ADDR:PORT] [--seed SECONDS] [--upload-limit BYTES/S]
//        [--upload-connections N]
// qg-get --make-blocks FILE [-o LIST]
// Fetches one file (every URL a mirror of it) with the download engine, through its C
// interface alone, and reports progress on stderr, and at the end what failed (--json:
// both as JSON lines on stdout). Exit status
// 0 only when the file is complete. A second run after an interrupted one continues from
// the file's resume state. With a lookup server, what it holds is shared with other engines
// (the block server on --peer-listen, loopback by default) and, with --seed, the finished
// file for that many seconds, after which it exits. --make-blocks writes the block list of
// a file for publishing beside it (FILE.blocks unless -o says otherwise).
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
    std::string blocks;  // a URL or a file
    std::string blocksSha256;
    int64_t maxSize = 0;
    std::string makeBlocks;
    bool json = false;
    std::string peerAddress;  // --peer-listen
    uint32_t peerPort = 0;
    bool peerListen = false;
    uint32_t seedSeconds = 0;
    int64_t uploadLimit = -1;  // -1: the engine's default
    uint32_t uploadConnections = 0;
};

constexpr platform::ProgramOption kOptions[] = {
    {"-o", "FILE", "where the file is written (required; with --make-blocks: the list)"},
    {"--md5", "HEX", "the file's MD5 (32 hex digits): a file that differs is not kept"},
    {"--blocks", "URL|FILE", "the file's block list: every block is checked as it arrives"},
    {"--blocks-sha256", "HEX", "the SHA-256 the block list must have (64 hex digits)"},
    {"--max-size", "BYTES", "the file's size at most (default 16 GiB)"},
    {"--lookup", "HOST:PORT", "a lookup server that names more sources of the file"},
    {"--connections", "N", "connections at most, 1 to 64"},
    {"--peer-listen", "ADDR:PORT",
     "where the block server listens, with --lookup (default 127.0.0.1;\n"
     "port 0: a free one)"},
    {"--seed", "SECONDS", "serve the finished file that long, then end (default 0)"},
    {"--upload-limit", "BYTES/S", "all uploads' bytes per second (0: no limit; default 1 MiB/s)"},
    {"--upload-connections", "N", "uploads at once, 1 to 64 (default 8)"},
    {"--make-blocks", "FILE",
     "write FILE's block list for publishing beside it (FILE.blocks, or -o LIST)\n"
     "instead of downloading"},
    {"--json", nullptr,
     "progress and the end as JSON lines on standard output, nothing else there"},
    {"--help", nullptr, "print this help and end"},
    {"--version", nullptr, "print the version and end"},
};

constexpr const char* kSynopsis =
    "Usage: qg-get URL... -o FILE [OPTION]...\n"
    "  or:  qg-get --make-blocks FILE [-o LIST]\n";

struct Progress {
    TarnTask* task = nullptr;
    int64_t lastBytes = 0;
    std::chrono::steady_clock::time_point lastTime = std::chrono::steady_clock::now();
    bool terminal = false;
    bool json = false;
    bool portShown = false;
};
Progress gProgress;

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
        "first URL. Progress, and at the end what failed, go to standard error. With a\n"
        "lookup server, the bytes it holds and has checked are served to other engines, and\n"
        "with --seed the finished file too, before it ends.\n"
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

// A decimal from `least` to `most`.
bool ParseNumber(const std::string& text, uint64_t least, uint64_t most, uint64_t& out) {
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const uint64_t value = std::strtoull(text.c_str(), nullptr, 10);
    if (value < least || value > most) return false;
    out = value;
    return true;
}

// "ADDR:PORT", the port from 0 (a free one) to 65535; the engine judges the address.
bool ParseListen(const std::string& text, Options& o) {
    const size_t colon = text.rfind(':');
    uint64_t port = 0;
    if (colon == std::string::npos || !ParseNumber(text.substr(colon + 1), 0, 65535, port))
        return false;
    o.peerAddress = text.substr(0, colon);
    o.peerPort = static_cast<uint32_t>(port);
    o.peerListen = true;
    return true;
}

bool ParseSize(const char* text, int64_t& out) {
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (!*text || *end || value < 1) return false;
    out = static_cast<int64_t>(value);
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
        if (arg == "--blocks") o.blocks = value;
        if (arg == "--blocks-sha256") o.blocksSha256 = value;
        if (arg == "--make-blocks") o.makeBlocks = value;
        if (arg == "--connections" && !ParseCount(value, o.connections)) {
            error = "--connections takes a number from 1 to 64";
            return false;
        }
        if (arg == "--max-size" && !ParseSize(value, o.maxSize)) {
            error = "--max-size takes a number of bytes above 0";
            return false;
        }
        uint64_t number = 0;
        if (arg == "--peer-listen" && !ParseListen(value, o)) {
            error = "--peer-listen takes ADDR:PORT (port 0: a free one)";
            return false;
        }
        if (arg == "--seed") {
            if (!ParseNumber(value, 0, 0xFFFFFFFFu, number)) {
                error = "--seed takes a number of seconds";
                return false;
            }
            o.seedSeconds = static_cast<uint32_t>(number);
        }
        if (arg == "--upload-limit") {
            if (!ParseNumber(value, 0, 0xFFFFFFFEu, number)) {
                error = "--upload-limit takes bytes per second (0: no limit)";
                return false;
            }
            o.uploadLimit = static_cast<int64_t>(number);
        }
        if (arg == "--upload-connections") {
            if (!ParseNumber(value, 1, 64, number)) {
                error = "--upload-connections takes a number from 1 to 64";
                return false;
            }
            o.uploadConnections = static_cast<uint32_t>(number);
        }
    }
    if (!o.makeBlocks.empty()) {
        if (!o.urls.empty()) error = "--make-blocks takes no URL";
        return o.urls.empty();
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

// Why a download failed, by the status block's failure code: for people and for scripts.
struct Cause {
    const char* text;
    const char* word;
};
constexpr Cause kCauses[] = {
    {"", "failed"},
    {"no source left that could deliver the rest", "no-source"},
    {"the file's MD5 did not match", "md5"},
    {"the file is larger than the size limit (--max-size)", "size-limit"},
    {"the block list could not be had or did not match its SHA-256", "block-list"},
    {"the file could not be written", "write"},
    {"cancelled", "cancelled"},
};

// What the status block says of the ending: on stderr, or as the last JSON line.
void ShowEnd(uint32_t state, const unsigned char* block) {
    uint32_t failure = 0;
    int32_t blamed = 0;
    std::memcpy(&failure, block + TARN_STATUS_FAILURE_OFFSET, sizeof failure);
    std::memcpy(&blamed, block + TARN_STATUS_BLAMED_OFFSET, sizeof blamed);
    char url[TARN_STATUS_BLAMED_URL_SIZE];
    std::memcpy(url, block + TARN_STATUS_BLAMED_URL_OFFSET, sizeof url);
    url[sizeof url - 1] = '\0';
    const bool complete = state == TARN_STATUS_COMPLETED;
    const bool known = failure > 0 && failure < sizeof kCauses / sizeof kCauses[0];
    if (gProgress.json) {
        const char* cause = complete                      ? "complete"
                            : state == TARN_STATUS_PAUSED ? "paused"
                            : known                       ? kCauses[failure].word
                                                          : "failed";
        platform::JsonLine line;
        line.Text("event", "end").Bool("complete", complete).Text("cause", cause);
        line.Number("state", state).Number("dropped", blamed);
        if (blamed > 0) line.Text("last_dropped", url);
        line.WriteTo(stdout);
    }
    if (known) std::fprintf(stderr, "qg-get: failed: %s\n", kCauses[failure].text);
    if (blamed > 0)
        std::fprintf(stderr, "qg-get: %d source%s dropped for wrong bytes, the last: %s\n", blamed,
                     blamed == 1 ? "" : "s", url);
    std::fprintf(stderr, "qg-get: %s (state %u)\n", complete ? "complete" : "not complete", state);
}

int MakeBlocks(const Options& o) {
    const std::string list = o.output.empty() ? o.makeBlocks + ".blocks" : o.output;
    if (!TarnMakeBlockList(o.makeBlocks.c_str(), list.c_str())) {
        std::fprintf(stderr, "qg-get: cannot make the block list of %s into %s\n",
                     o.makeBlocks.c_str(), list.c_str());
        return kExitFailed;
    }
    std::fprintf(stderr, "qg-get: wrote %s\n", list.c_str());
    return 0;
}

bool SetIntegrity(TarnTask* task, const Options& o, const char*& error) {
    const bool url = o.blocks.find("://") != std::string::npos;
    if (!(url ? TarnSetBlockListUrl : TarnSetBlockList)(task, o.blocks.c_str(),
                                                        o.blocksSha256.c_str())) {
        error = "--blocks-sha256 takes 64 hexadecimal digits";
        return false;
    }
    if (!o.md5.empty() && !TarnSetExpectedMD5(task, o.md5.c_str())) {
        error = "--md5 takes 32 hexadecimal digits";
        return false;
    }
    TarnSetSizeLimit(task, o.maxSize);
    return true;
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

// The finished file is served to other engines for the seeding time, then withdrawn; the
// engine withdraws it too should it change meanwhile.
void Seed() {
    if (TarnGetSeedingCount() == 0) return;
    std::fprintf(stderr, "qg-get: seeding on port %u\n", TarnGetPort());
    while (TarnGetSeedingCount() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::fprintf(stderr, "qg-get: seeding ended\n");
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
    std::string usageError;
    if (!Parse(argc, argv, o, usageError)) return Usage(usageError);
    TarnInitLibrary();
    if (!o.makeBlocks.empty()) return MakeBlocks(o);
    if (!o.lookup.empty()) TarnSetLookupServer(o.lookup.c_str());
    if (o.connections > 0) TarnSetConnectionLimits(o.connections, o.connections * 4);
    if (o.peerListen &&
        !TarnSetPeerListen(o.peerAddress.c_str(), static_cast<uint16_t>(o.peerPort))) {
        return Usage("--peer-listen takes a literal IPv4 address");
    }
    TarnSetSeedSeconds(o.seedSeconds);
    // 0 keeps the engine's value; on the command line 0 means no limit.
    const uint32_t rate = o.uploadLimit < 0    ? 0
                          : o.uploadLimit == 0 ? TARN_UPLOAD_UNLIMITED
                                               : static_cast<uint32_t>(o.uploadLimit);
    TarnSetUploadLimit(rate, o.uploadConnections);
    TarnTask* task = CreateTarnTask();
    gProgress.task = task;
    gProgress.terminal = isatty(STDERR_FILENO) != 0;
    gProgress.json = o.json;
    const char* error = nullptr;
    if (!SetIntegrity(task, o, error)) {
        DestroyTarnTask(task);
        return Usage(error);
    }
    if (!StartDownload(task, o)) {
        std::fprintf(stderr, "qg-get: the download could not start\n");
        if (o.json)
            platform::JsonLine()
                .Text("event", "end")
                .Bool("complete", false)
                .Text("cause", "not started")
                .WriteTo(stdout);
        DestroyTarnTask(task);
        return kExitFailed;
    }
    // The status block tells the end too: a state past "downloading" is final.
    const auto period = std::chrono::milliseconds(gProgress.terminal && !o.json ? 250 : 1000);
    auto nextShow = std::chrono::steady_clock::now() + period;
    uint32_t state = TARN_STATUS_IDLE;
    unsigned char block[TARN_STATUS_BLOCK_SIZE] = {};
    for (;;) {
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
    TarnGetStatusInfo(task, block);
    DestroyTarnTask(task);
    ShowEnd(state, block);
    if (state != TARN_STATUS_COMPLETED) return kExitFailed;
    Seed();
    return 0;
}
