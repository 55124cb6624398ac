// What engines send to the lookup service and what it answers
// (docs/formats/lookup-protocol.md has the whole exchange). Every request body is a form (form.h)
// read without trust; a request that is refused gets a one-line reason.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lookup {

inline constexpr size_t kMaxBodyBytes = 4096;
inline constexpr size_t kMaxUrlBytes = 2083;  // what an engine takes in a source line
inline constexpr int64_t kMaxFileLength = int64_t{1} << 42;  // 4 TiB, as engines cap it

// POST /getfipl.php: url=URL[&refer=REFERER] or md5=HEX32, then uid, pc, mc, and the
// asker's own block-server port (port, optional). pc and mc are the most peers and
// mirrors the asker wants (0 or absent: the service's default).
struct FileQuery {
    std::string url;  // by URL when not empty, else by md5
    std::string md5;  // lower case
    uint64_t peersWanted = 0;
    uint64_t mirrorsWanted = 0;
    uint16_t askerPort = 0;  // 0: not given
};
bool ParseFileQuery(std::string_view body, FileQuery& out, std::string& reason);

// One file that one engine serves: POST /announce. The address is never a field: the
// service takes it from the connection.
struct Announcement {
    std::string address;  // canonical IP text
    uint16_t port = 0;    // the engine's block server
    std::string key;      // the block server serves "/" + key; 32 lower-case hex digits
    int64_t length = 0;
    std::string md5;   // lower case, or empty
    std::string url;   // or empty; at least one of md5 and url
    int64_t held = 0;  // bytes held that passed their checks
    bool complete = false;
};
bool ParseAnnouncement(std::string_view body, Announcement& out, std::string& reason);

// POST /withdraw: port, and the key (empty: everything the address announced at that port).
struct Withdrawal {
    uint16_t port = 0;
    std::string key;
};
bool ParseWithdrawal(std::string_view body, Withdrawal& out, std::string& reason);

// The answer to a lookup.
struct PeerSource {
    std::string address;
    uint16_t port = 0;
    std::string key;
};
struct FileAnswer {
    int64_t length = 0;
    std::string md5;  // any case, or empty when not known
    std::vector<std::string> mirrors;
    std::vector<PeerSource> peers;
};
// "Length=N\r\nSources=K\r\nMD5=HEX\r\n\r\n", then one line per source, each ended by
// "\r\n": a mirror's URL, then each peer as "http://ADDR:PORT/KEY\tkind=peer". MD5 is in
// upper case, or empty when not known.
std::string FormatAnswer(const FileAnswer& answer);
// The answer for a file nobody knows.
inline constexpr std::string_view kUnknownFileAnswer = "FAILED\r\n";

std::string PeerSourceLine(const PeerSource& peer);

// True for 32 hexadecimal digits.
bool IsHexDigest(std::string_view text);
// A URL as the service keeps and lists it: 1 to kMaxUrlBytes bytes, no blank or control byte.
bool IsPlainUrl(std::string_view url);

}  // namespace lookup
