// Fuzz target: arbitrary bytes as the body of a lookup, an announcement and a withdrawal,
// and as a mirrors file. What is read keeps to its form: digests and keys of 32 hex
// digits, ports 1-65535, held within the length, URLs without blanks or control bytes;
// an announcement or a query read from a body formats into an answer of one line per
// source.
#include <cstddef>
#include <cstdint>
#include <string>

#include "lookup/mirror_list.h"
#include "lookup/protocol.h"
#include "testing/fuzz_support.h"

namespace {

bool LowerHex(const std::string& text) {
    return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using fuzz_support::Require;
    const std::string body(reinterpret_cast<const char*>(data), size);
    std::string reason;

    lookup::FileQuery query;
    if (lookup::ParseFileQuery(body, query, reason)) {
        Require(query.url.empty() ? LowerHex(query.md5) : lookup::IsPlainUrl(query.url),
                "a query names its file by a plain URL or a lower-case digest");
    } else {
        Require(!reason.empty() && reason.find('\n') == std::string::npos, "a one-line reason");
    }

    lookup::Announcement a;
    if (lookup::ParseAnnouncement(body, a, reason)) {
        Require(LowerHex(a.key) && a.port != 0, "a key and a port");
        Require(a.held >= 0 && a.held <= a.length && a.length <= lookup::kMaxFileLength,
                "held within the length");
        Require(a.md5.empty() || LowerHex(a.md5), "a lower-case digest");
        Require(a.url.empty() || lookup::IsPlainUrl(a.url), "a plain URL");
        Require(!a.md5.empty() || !a.url.empty(), "the file is named");
        Require(!a.complete || a.held == a.length, "complete means all of it");
        a.address = "127.0.0.1";
        lookup::FileAnswer answer;
        answer.length = a.length;
        answer.md5 = a.md5;
        if (!a.url.empty()) answer.mirrors.push_back(a.url);
        answer.peers.push_back({a.address, a.port, a.key});
        const std::string text = lookup::FormatAnswer(answer);
        const size_t header = text.find("\r\n\r\n");
        Require(header != std::string::npos, "an answer has its blank line");
        size_t lines = 0;
        for (size_t at = text.find("\r\n", header + 4); at != std::string::npos;
             at = text.find("\r\n", at + 2)) {
            ++lines;
        }
        Require(lines == answer.mirrors.size() + 1, "one line per source");
    }

    lookup::Withdrawal w;
    if (lookup::ParseWithdrawal(body, w, reason)) {
        Require(w.port != 0 && (w.key.empty() || LowerHex(w.key)), "a port and maybe a key");
    }

    lookup::MirrorList mirrors;
    if (mirrors.Parse(body, reason)) {
        for (size_t i = 0; i < body.size() && i < 64; ++i) {
            (void)mirrors.ByUrl(body.substr(0, i));
        }
    }
    return 0;
}
