// The request that asks the lookup server where else a file can be fetched, and the
// reading of its answer.
//
// Request: POST "getfipl.php" over HTTP/1.0, agent "Browser1.0", "Accept: */*",
// "Content-Type: application/x-www-form-urlencoded", body
//   url=URL[&refer=REFERER]&uid=USER&pc=PC&mc=MC[&port=PORT]     when a URL is given
//   md5=MD5&uid=USER&pc=PC&mc=MC[&port=PORT]                     otherwise
// with every value form-escaped (bytes other than A-Z a-z 0-9 - . _ ~ as %XX). PORT is the
// asker's own block-server port, so that the server never names the asker itself.
//
// Answer (the response body; at most kMaxAnswerBytes):
//   "FAILED..."                      the server has nothing (code 4)
//   HEADER "\r\n\r\n" SOURCES        else; without the blank line, code 3
// HEADER lines are split at "\r\n": line 0 "Length=N" (key without regard to case) gives
// the size, line 2 "MD5=" and 32 hexadecimal digits gives the digest (upper-cased);
// anything else there is ignored. SOURCES: every non-empty line, in order (see
// source_line.h for their form).
// The format, field by field: docs/formats/lookup-protocol.md
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class SocketInterrupt;  // what HttpInterrupt names
}

namespace engine {

enum LookupCode : int {
    kLookupOk = 0,
    kLookupNothingToAsk = 1,    // neither url nor md5, no user id, pc or mc negative
    kLookupTransferFailed = 2,  // no answer: connection, time-out, deadline, interrupt,
                                // status, or too long
    kLookupNoHeaderEnd = 3,     // the answer lacks the blank line after its header
    kLookupServerFailed = 4,    // the answer begins with "FAILED"
};

inline constexpr size_t kMaxAnswerBytes = 1 << 20;

struct LookupRequest {
    std::string host;  // the lookup server
    uint16_t port = 80;
    std::string url;
    std::string referer;
    std::string md5;
    std::string userId;
    int32_t pc = 0;
    int32_t mc = 0;
    uint16_t ownPort = 0;  // the asker's block server; 0: none
    uint32_t connectTimeoutSeconds = 15;
    uint32_t noDataTimeoutSeconds = 30;
    // The whole request ends within this, however the server drips its answer (0: none).
    uint32_t deadlineSeconds = 20;
    // Lets another thread end the request at once (code 2).
    platform::SocketInterrupt* interrupt = nullptr;
};

// The outputs change only with code 0, and then only those that the answer carries:
// `size` when line 0 holds a length, `md5` when line 2 holds a digest; the source lines
// are appended to `sources`.
int QueryFileSources(const LookupRequest& request, int64_t& size, std::string& md5,
                     std::vector<std::string>& sources);

// The request body as above; "" when there is nothing to ask (code 1).
std::string BuildLookupBody(const LookupRequest& request);
// Reads an answer as above: 0, 3 or 4, with the outputs treated as QueryFileSources does.
int ParseLookupAnswer(std::string_view answer, int64_t& size, std::string& md5,
                      std::vector<std::string>& sources);
// Form escaping of one value.
std::string FormEscape(std::string_view value);

// POSTs a form `body` to http://HOST:PORT/PATH as the lookup request does (time-outs,
// deadline, interrupt, answer cap of kMaxAnswerBytes); true with the body of a 200 answer.
struct LookupPost {
    std::string host;
    uint16_t port = 80;
    std::string path;  // without its leading "/"
    std::string body;
    uint32_t connectTimeoutSeconds = 15;
    uint32_t noDataTimeoutSeconds = 30;
    uint32_t deadlineSeconds = 20;  // 0: none
    platform::SocketInterrupt* interrupt = nullptr;
};
bool PostLookupForm(const LookupPost& post, std::string& answer);

}  // namespace engine
