#include "axp/zip_writer.h"

#include <zlib.h>

#include <limits>

#include "axp/error.h"
#include "pack_io.h"
#include "platform/file.h"

namespace AXP {

namespace {

// Below 2 GiB: the reader takes sizes and offsets as int.
constexpr uint64_t kMaxArchiveSize = 0x7FFFFFFFull;
constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;
constexpr uint16_t kVersionNeeded = 20;
// 1980-01-01 00:00: fixed, so that equal content gives equal packages.
constexpr uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;

void Put16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

bool Deflate(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        return false;
    }
    out.resize(deflateBound(&z, static_cast<uLong>(size)));
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return rc == Z_STREAM_END;
}

}  // namespace

ZipWriter::ZipWriter() = default;
ZipWriter::~ZipWriter() = default;

bool ZipWriter::Create(std::string_view path) {
    members_.clear();
    position_ = 0;
    failed_ = false;
    if (int e = platform::PosixFileSystem().Open(ToNativePath(path),
                                                 platform::FileOpenMode::kCreateReadWrite, file_)) {
        failed_ = true;
        SetLastError(kErrOpen, "File=%.*s, errno=%d", static_cast<int>(path.size()), path.data(),
                     e);
        return false;
    }
    return true;
}

bool ZipWriter::Write(const void* data, size_t size) {
    if (position_ + size > kMaxArchiveSize) {
        failed_ = true;
        SetLastError(kErrNoSpace, "zip archive above 2 GiB");
        return false;
    }
    if (int e = file_->WriteAt(position_, data, size)) {
        failed_ = true;
        SetLastError(kErrWrite, "errno=%d", e);
        return false;
    }
    position_ += size;
    return true;
}

bool ZipWriter::Add(std::string_view name, const void* data, size_t size, bool deflate) {
    if (failed_ || !file_ || name.empty() || name.size() > 0xFFFF ||
        size > std::numeric_limits<int32_t>::max() || (data == nullptr && size != 0)) {
        if (!failed_) SetLastError(kErrInvalidArg);
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    Member m;
    m.name.assign(name);
    m.size = static_cast<uint32_t>(size);
    m.crc = static_cast<uint32_t>(crc32(0L, bytes, static_cast<uInt>(size)));
    m.offset = static_cast<uint32_t>(position_);
    std::vector<uint8_t> packed;
    const uint8_t* payload = bytes;
    m.compressedSize = m.size;
    if (deflate && size > 0 && Deflate(bytes, size, packed) && packed.size() < size) {
        m.method = kDeflated;
        payload = packed.data();
        m.compressedSize = static_cast<uint32_t>(packed.size());
    }
    std::string header;
    Put32(header, 0x04034b50);
    Put16(header, kVersionNeeded);
    Put16(header, 0);  // flags
    Put16(header, m.method);
    Put16(header, 0);  // time
    Put16(header, kDosDate);
    Put32(header, m.crc);
    Put32(header, m.compressedSize);
    Put32(header, m.size);
    Put16(header, static_cast<uint32_t>(m.name.size()));
    Put16(header, 0);  // extra
    header += m.name;
    if (!Write(header.data(), header.size()) || !Write(payload, m.compressedSize)) return false;
    members_.push_back(std::move(m));
    return true;
}

bool ZipWriter::Finish() {
    if (failed_ || !file_ || members_.size() > 0xFFFF) {
        if (!failed_) SetLastError(kErrInvalidArg);
        return false;
    }
    const uint64_t start = position_;
    std::string directory;
    for (const Member& m : members_) {
        Put32(directory, 0x02014b50);
        Put16(directory, kVersionNeeded);
        Put16(directory, kVersionNeeded);
        Put16(directory, 0);
        Put16(directory, m.method);
        Put16(directory, 0);
        Put16(directory, kDosDate);
        Put32(directory, m.crc);
        Put32(directory, m.compressedSize);
        Put32(directory, m.size);
        Put16(directory, static_cast<uint32_t>(m.name.size()));
        Put16(directory, 0);  // extra
        Put16(directory, 0);  // comment
        Put16(directory, 0);  // disk
        Put16(directory, 0);  // internal attributes
        Put32(directory, 0);  // external attributes
        Put32(directory, m.offset);
        directory += m.name;
    }
    std::string end;
    Put32(end, 0x06054b50);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, static_cast<uint32_t>(members_.size()));
    Put16(end, static_cast<uint32_t>(members_.size()));
    Put32(end, static_cast<uint32_t>(directory.size()));
    Put32(end, static_cast<uint32_t>(start));
    Put16(end, 0);
    if (!Write(directory.data(), directory.size()) || !Write(end.data(), end.size())) {
        return false;
    }
    const int e = file_->Close();
    file_.reset();
    if (e != 0) {
        failed_ = true;
        SetLastError(kErrWrite, "errno=%d", e);
        return false;
    }
    return true;
}

}  // namespace AXP
