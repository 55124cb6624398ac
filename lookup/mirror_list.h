// The operator's mirrors: whole copies of files that the lookup names beside the peers.
//
// The file is text, one file per line, fields separated by blanks:
//   md5=HEX32 length=N url=URL [url=URL...]
// md5 is optional (a file listed without it is found by its URLs only); every URL is an
// "http://", "https://" or "ftp://" address without blanks, of at most 2083 bytes. Empty
// lines and lines beginning with "#" are skipped. A line of another form refuses the whole
// file, with its number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace lookup {

inline constexpr size_t kMaxMirrorFileBytes = 64 << 20;

struct MirroredFile {
    std::string md5;  // lower case, or empty
    int64_t length = 0;
    std::vector<std::string> urls;
};

class MirrorList {
  public:
    // Replaces the list with the one in `text`; false (and the list unchanged) with a
    // reason "line N: ..." when a line is not of the form above.
    bool Parse(std::string_view text, std::string& reason);
    // Reads a file of at most kMaxMirrorFileBytes.
    bool Load(const std::string& path, std::string& reason);

    // The file with this digest, or the first one that names this URL; null for none.
    const MirroredFile* ByMd5(const std::string& md5) const;
    const MirroredFile* ByUrl(const std::string& url) const;
    size_t size() const { return files_.size(); }

  private:
    std::vector<MirroredFile> files_;
    std::unordered_map<std::string, size_t> byMd5_;
    std::unordered_map<std::string, size_t> byUrl_;
};

}  // namespace lookup
