// The texts of the FTP conversation, read without trusting the server: reply lines, the
// passive-mode address, a one-file directory listing, the number after a reply code, and
// the split of an "ftp://" URL. Pure functions and one small state machine, so that they
// can be fuzzed alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace engine {

// Reads one reply, possibly over several lines: the code is the leading number of a line;
// reading goes on while that number lies outside 100..599 or the fourth character is "-"
// (a continued reply). Each line keeps at most kMaxLine bytes; a reply of more than
// kMaxLines lines or kMaxBytes bytes is refused, so that a server sending endless lines
// costs bounded memory and ends the step.
class FtpReplyParser {
  public:
    static constexpr size_t kMaxLine = 4096;
    static constexpr size_t kMaxLines = 256;
    static constexpr size_t kMaxBytes = 64 * 1024;

    enum class Status { NeedMore, Complete, Refused };

    // Consumes bytes from the front of `input`, up to the end of the reply; what follows
    // the reply stays in `input`. Complete: code() and lastLine() hold the reply, and
    // the next call starts a new one. Refused stays until Reset().
    Status Consume(std::string_view& input);
    void Reset();

    int code() const { return code_; }
    // The reply's last line without its line end.
    const std::string& lastLine() const { return lastLine_; }

  private:
    std::string line_;
    std::string lastLine_;
    size_t lines_ = 0;
    size_t bytes_ = 0;
    int code_ = 0;
    bool refused_ = false;
};

// The leading decimal number of a line (at most 9 digits), -1 when it has none.
int LeadingNumber(std::string_view line);

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)": the six numbers between "(" and ")",
// each 0..255. False when they are not there.
bool ParsePassiveReply(std::string_view line, std::string& host, uint16_t& port);

// The size from a listing of one file, in the Unix "ls -l" form
//   "-rw-r--r-- 1 owner group 12345 Jan 01 12:00 name"
// or the DOS form "01-01-20  12:00PM  12345 name". A "total N" line is skipped; a listing
// of anything else (a directory, several entries, no regular file) gives false.
bool ParseListingSize(std::string_view listing, int64_t& size);

// The number that follows the reply code ("213 12345"), 0..2^62. False otherwise.
bool ParseSizeReply(std::string_view line, int64_t& size);

struct FtpUrl {
    std::string host;
    uint16_t port = 21;
    std::string user;  // empty: anonymous
    std::string password;
    std::string path = "/";
};

// Splits "ftp://[user[:password]@]host[:port][/path]" as it is written (no %-decoding).
// Refuses another scheme, an empty host, a bad port, a part over kMaxUrlPart bytes, and
// any control byte, so that no part can smuggle a line into a command.
inline constexpr size_t kMaxUrlPart = 4095;
bool ParseFtpUrl(std::string_view url, FtpUrl& out);

}  // namespace engine
