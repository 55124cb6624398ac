// Fuzz target: arbitrary bytes as what an FTP server sends: the control connection's
// bytes in pieces (split by fuzz_support::kPartSeparator) through the reply reader, and
// each piece as a passive reply, a listing, a SIZE reply and a URL.
// The reader keeps its lines bounded and only completes replies with a code of 100..599;
// sizes are never negative; a passive port and a split URL are well formed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ftp_protocol.h"
#include "testing/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> pieces = fuzz_support::SplitParts(data, size, 8);
    engine::FtpReplyParser parser;
    for (const std::string& piece : pieces) {
        std::string_view input(piece);
        while (!input.empty()) {
            const size_t before = input.size();
            const auto status = parser.Consume(input);
            fuzz_support::Require(parser.lastLine().size() <= engine::FtpReplyParser::kMaxLine,
                                  "a kept line is bounded");
            if (status == engine::FtpReplyParser::Status::Complete) {
                fuzz_support::Require(parser.code() >= 100 && parser.code() <= 599,
                                      "a complete reply has a code of 100..599");
            }
            if (status != engine::FtpReplyParser::Status::Complete) break;
            fuzz_support::Require(input.size() < before, "a reply consumes its bytes");
        }

        std::string host;
        uint16_t port = 0;
        if (engine::ParsePassiveReply(piece, host, port)) {
            fuzz_support::Require(host.size() >= 7 && host.size() <= 15, "a dotted address");
        }
        int64_t found = -1;
        if (engine::ParseListingSize(piece, found)) fuzz_support::Require(found >= 0, "size >= 0");
        found = -1;
        if (engine::ParseSizeReply(piece, found)) fuzz_support::Require(found >= 0, "size >= 0");
        engine::FtpUrl url;
        if (engine::ParseFtpUrl(piece, url)) {
            const std::string all = url.host + url.user + url.password + url.path;
            fuzz_support::Require(
                all.find_first_of("\r\n") == std::string::npos && !url.host.empty() && url.port > 0,
                "a split URL has a host and no line break");
        }
    }
    return 0;
}
