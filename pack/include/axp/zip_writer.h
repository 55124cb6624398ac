// A small zip writer for building patch packages: members stored or deflated (zlib), no
// zip64, no data descriptors, names taken as raw bytes (GBK). The archive must stay below
// 2 GiB, the limit of the zip reader the launcher uses.
//
// Failure: false results plus the library's last error (axp/error.h); after a failure the
// writer refuses further calls and the partial file is left for the caller to delete.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class IFile;
}

namespace AXP {

class ZipWriter {
  public:
    ZipWriter();
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Creates (or truncates) the archive file.
    bool Create(std::string_view path);
    // Adds a member. With `deflate` set the member is deflated when that makes it smaller,
    // else stored.
    bool Add(std::string_view name, const void* data, size_t size, bool deflate);
    // Writes the central directory and closes the file.
    bool Finish();

  private:
    struct Member {
        std::string name;
        uint32_t crc = 0;
        uint32_t compressedSize = 0;
        uint32_t size = 0;
        uint16_t method = 0;
        uint32_t offset = 0;
    };
    bool Write(const void* data, size_t size);

    std::unique_ptr<platform::IFile> file_;
    std::vector<Member> members_;
    uint64_t position_ = 0;
    bool failed_ = false;
};

}  // namespace AXP
