// qg-lookup --listen ADDR:PORT [--store redis://HOST:PORT] [--mirrors FILE] [--ttl SECONDS]
//           [--trusted-proxy ADDR]... [--client-timeout SECONDS] [--threads N]
// The lookup service: engines announce the files they serve and ask where else a file
// can be fetched (README "Running a lookup service"; docs/formats/lookup-protocol.md).
// Prints the bound port on the first line of standard output, one line per request on
// standard error, reads its mirrors file again on SIGHUP, and ends cleanly on SIGTERM or
// SIGINT.
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lookup/http_server.h"
#include "lookup/lookup_service.h"
#include "lookup/memory_store.h"
#include "lookup/mirror_list.h"
#include "lookup/redis_store.h"
#include "platform/interrupt_watch.h"
#include "platform/ip_address.h"
#include "platform/log_output.h"
#include "platform/program_options.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr size_t kMaxAnnouncementsPerAddress = 256;

constexpr platform::ProgramOption kOptions[] = {
    {"--listen", "ADDR:PORT",
     "address to serve on (required; [IPV6]:PORT);\n"
     "port 0 takes a free one, printed on the first\n"
     "line of standard output"},
    {"--store", "redis://HOST:PORT",
     "keep announcements in Redis (6.2 or later),\n"
     "shared by every service on it; default: in\n"
     "this process's memory"},
    {"--mirrors", "FILE",
     "the operator's mirrors, one file per line:\n"
     "md5=HEX32 length=N url=URL [url=URL...]"},
    {"--ttl", "SECONDS", "how long an announcement lives unless renewed\n(300)"},
    {"--trusted-proxy", "ADDR",
     "a proxy in front: its connections name the\n"
     "engine in X-Forwarded-For (may be given more\n"
     "than once)"},
    {"--client-timeout", "SECONDS", "a connection silent this long is closed (10)"},
    {"--threads", "N", "threads serving connections (4)"},
    {"--help", nullptr, "print this help and end"},
    {"--version", nullptr, "print the version and end"},
};

constexpr const char* kSynopsis = "Usage: qg-lookup --listen ADDR:PORT [OPTION]...\n";

int Help() {
    std::fputs(kSynopsis, stdout);
    std::fputs(
        "The lookup service of the download engine: engines announce the files they serve\n"
        "(POST /announce, /withdraw) and ask where else a file can be fetched\n"
        "(POST /getfipl.php); GET /status gives counters as JSON.\n"
        "\nOptions:\n",
        stdout);
    platform::PrintOptions(stdout, kOptions);
    std::fputs(
        "\nOne line per request on standard error; SIGHUP reads the mirrors file again;\n"
        "SIGTERM or SIGINT end it.\n"
        "\nExit status: 0 when ended by a signal, 1 when it cannot serve, 2 for a usage\n"
        "error.\n",
        stdout);
    return 0;
}

struct Options {
    lookup::HttpServerSettings http;
    std::string store;
    std::string mirrors;
    unsigned ttl = 300;
    std::vector<std::string> trustedProxies;
};

bool ReadCount(const std::string& text, unsigned least, unsigned most, unsigned& out) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < least ||
        value > most) {
        return false;
    }
    out = value;
    return true;
}

int Usage(const std::string& why) {
    std::fprintf(stderr, "qg-lookup: %s\n%s(qg-lookup --help lists the options)\n", why.c_str(),
                 kSynopsis);
    return kExitUsage;
}

// 0 when the options are usable, else the exit code (help and version answered).
int Parse(int argc, char** argv, Options& o) {
    bool listen = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Help();
            return -1;
        }
        if (arg == "--version") {
            platform::PrintVersion("qg-lookup", QG_VERSION);
            return -1;
        }
        if (!platform::LooksLikeOption(arg)) return Usage("unexpected argument " + arg);
        const platform::ProgramOption* option = platform::FindOption(kOptions, arg);
        if (option == nullptr) return Usage("unknown option " + arg);
        if (i + 1 >= argc) return Usage(arg + " needs a value (" + option->value + ")");
        const std::string value = argv[++i];
        if (arg == "--listen") {
            const std::optional<platform::HostPort> where = platform::ParseIpPort(value);
            if (!where) return Usage("--listen takes ADDR:PORT with a literal address");
            o.http.address = where->address;
            o.http.port = where->port;
            listen = true;
        } else if (arg == "--store") {
            std::string host;
            uint16_t port = 0;
            if (!lookup::ParseRedisUrl(value, host, port)) {
                return Usage("--store takes redis://HOST:PORT");
            }
            o.store = value;
        } else if (arg == "--mirrors") {
            o.mirrors = value;
        } else if (arg == "--ttl") {
            if (!ReadCount(value, 1, 86400, o.ttl)) return Usage("--ttl takes 1 to 86400 seconds");
        } else if (arg == "--trusted-proxy") {
            const std::optional<std::string> address = platform::CanonicalIpAddress(value);
            if (!address) return Usage("--trusted-proxy takes a literal address");
            o.trustedProxies.push_back(*address);
        } else if (arg == "--client-timeout") {
            if (!ReadCount(value, 1, 600, o.http.timeoutSeconds)) {
                return Usage("--client-timeout takes 1 to 600 seconds");
            }
        } else if (arg == "--threads") {
            if (!ReadCount(value, 1, 64, o.http.threads)) return Usage("--threads takes 1 to 64");
        }
    }
    return listen ? 0 : Usage("--listen ADDR:PORT is required");
}

void Say(const std::string& line) { platform::WriteToStandardError(line + "\n"); }

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (const int code = Parse(argc, argv, o); code != 0) return code < 0 ? 0 : code;

    lookup::MirrorList mirrors;
    std::string error;
    if (!o.mirrors.empty() && !mirrors.Load(o.mirrors, error)) {
        Say("qg-lookup: " + error);
        return kExitFailed;
    }
    const size_t mirrored = mirrors.size();
    std::unique_ptr<lookup::AnnouncementStore> store;
    if (o.store.empty()) {
        store = std::make_unique<lookup::MemoryStore>(kMaxAnnouncementsPerAddress);
    } else {
        lookup::RedisOptions redis;
        lookup::ParseRedisUrl(o.store, redis.host, redis.port);
        redis.maxPerAddress = kMaxAnnouncementsPerAddress;
        store = std::make_unique<lookup::RedisStore>(redis);
        lookup::StoreCounts counts;
        if (store->Counts(counts) != lookup::StoreStatus::Ok) {
            Say("qg-lookup: " + o.store + " does not answer yet; requests get 503 until it does");
        }
    }
    lookup::ServiceSettings settings;
    settings.ttl = std::chrono::seconds(o.ttl);
    settings.trustedProxies = o.trustedProxies;
    lookup::LookupService service(*store, std::move(mirrors), settings);

    std::mutex lock;
    std::condition_variable stopped;
    bool stop = false;
    // SIGHUP reads the mirrors file again; one that does not read keeps the list as it was.
    const auto reread = [&] {
        if (o.mirrors.empty()) return;
        lookup::MirrorList fresh;
        std::string why;
        if (!fresh.Load(o.mirrors, why)) {
            Say("qg-lookup: kept the mirrors as they were: " + why);
            return;
        }
        Say("qg-lookup: " + std::to_string(fresh.size()) + " mirrored files from " + o.mirrors);
        service.ReplaceMirrors(std::move(fresh));
    };
    platform::InterruptWatch watch(
        [&] {
            std::lock_guard<std::mutex> guard(lock);
            stop = true;
            stopped.notify_all();
        },
        reread);

    lookup::HttpServer server;
    if (!server.Start(
            o.http, [&service](const lookup::HttpExchange& e) { return service.Handle(e); }, Say,
            error)) {
        Say("qg-lookup: " + error);
        return kExitFailed;
    }
    platform::WriteToStandardOutput(std::to_string(server.port()) + "\n");
    Say("qg-lookup: listening on " + platform::UrlHost(o.http.address) + ":" +
        std::to_string(server.port()) + ", store " + store->kind() + ", ttl " +
        std::to_string(o.ttl) + " s, " + std::to_string(mirrored) + " mirrored files");

    std::unique_lock<std::mutex> guard(lock);
    stopped.wait(guard, [&] { return stop; });
    guard.unlock();
    server.Stop();
    Say("qg-lookup: stopped");
    return 0;
}
