#include "package_zip.h"

#include <errno.h>
#include <strings.h>
#include <zlib.h>
#include <zzip/lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "axp/error.h"
#include "axp/updater.h"
#include "axp/xor_key.h"
#include "pack_io.h"
#include "platform/directory_tree.h"
#include "platform/file.h"
#include "platform/file_system.h"

namespace AXP {

namespace {

constexpr size_t kChunk = 1 << 16;

// Reads through zziplib's default handlers, then undoes the byte form. The position of
// each byte is the file position before the read plus its index: zziplib seeks through
// the same handlers whenever it switches members, so the position is always current.
zzip_ssize_t ReadInverted(int fd, void* buf, zzip_size_t len) {
    const zzip_ssize_t n = zzip_get_default_io()->fd.read(fd, buf, len);
    auto* bytes = static_cast<uint8_t*>(buf);
    for (zzip_ssize_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
    return n;
}

zzip_ssize_t ReadScrambled(int fd, void* buf, zzip_size_t len) {
    const zzip_off_t position = zzip_get_default_io()->fd.seeks(fd, 0, SEEK_CUR);
    if (position < 0) return -1;
    const zzip_ssize_t n = zzip_get_default_io()->fd.read(fd, buf, len);
    if (n > 0) XorWithKey(buf, static_cast<size_t>(n), static_cast<uint64_t>(position));
    return n;
}

struct FileCloser {
    void operator()(ZZIP_FILE* f) const { zzip_file_close(f); }
};
using ZipFile = std::unique_ptr<ZZIP_FILE, FileCloser>;

// The central directory record zziplib found for `name`: the first whose name equals it
// without regard to case, as zzip_file_open looks it up.
const zzip_dir_hdr* FindRecord(ZZIP_DIR* dir, const std::string& name) {
    const zzip_dir_hdr* hdr = dir->hdr0;
    if (hdr == nullptr) return nullptr;
    for (;;) {
        if (strcasecmp(hdr->d_name, name.c_str()) == 0) return hdr;
        if (hdr->d_reclen == 0) return nullptr;
        hdr = reinterpret_cast<const zzip_dir_hdr*>(reinterpret_cast<const char*>(hdr) +
                                                    hdr->d_reclen);
    }
}

// An open member with the record it is checked against.
struct Member {
    ZipFile file;
    const zzip_dir_hdr* record = nullptr;
    uint32_t size = 0;
};

// Opens a member and gets its size; error 14 with the directory's zziplib code.
bool OpenMember(ZZIP_DIR* dir, std::string_view name, Member& m) {
    const std::string key(name);
    m.file.reset(zzip_file_open(dir, key.c_str(), ZZIP_CASELESS | ZZIP_ONLYZIP));
    ZZIP_STAT st{};
    m.record = FindRecord(dir, key);
    if (!m.file || m.record == nullptr ||
        zzip_dir_stat(dir, key.c_str(), &st, ZZIP_CASELESS) != 0 || st.st_size < 0) {
        SetLastError(kErrZip, "ziperr=%d", zzip_error(dir));
        return false;
    }
    m.size = static_cast<uint32_t>(st.st_size);
    // Sizes the package cannot hold are refused before a buffer is sized by them: the
    // compressed data must lie inside the file, stored data is its own size, and deflate
    // expands a byte to at most 1032.
    const zzip_off_t fileSize = dir->io->fd.filesize(dir->fd);
    const uint64_t maxSize =
        m.record->d_compr == 0 ? m.record->d_csize : uint64_t{m.record->d_csize} * 1032 + 1024;
    if (fileSize < 0 || uint64_t{m.record->d_off} + m.record->d_csize > uint64_t(fileSize) ||
        m.size > maxSize) {
        SetLastError(kErrZip, "File=%.*s, %u bytes from %u compressed bytes at %u",
                     static_cast<int>(name.size()), name.data(), m.size, m.record->d_csize,
                     m.record->d_off);
        return false;
    }
    return true;
}

bool ShortMember(std::string_view name, uint64_t got, uint32_t size) {
    SetLastError(kErrZip, "File=%.*s, %llu of %u bytes in the package",
                 static_cast<int>(name.size()), name.data(), static_cast<unsigned long long>(got),
                 size);
    return false;
}

// The checks of a member read through: `got` bytes whose CRC-32 is `crc`. A stored
// member's data is its content, so its compressed size must be its size too (zziplib
// reads a stored member by its size and would run into the next record otherwise).
bool CheckMember(std::string_view name, const Member& m, uint64_t got, uint32_t crc) {
    if (got != m.size || m.record->d_usize != m.size) return ShortMember(name, got, m.size);
    if (m.record->d_compr == 0 && m.record->d_csize != m.size) {
        SetLastError(kErrZip, "File=%.*s, stored with %u bytes for %u",
                     static_cast<int>(name.size()), name.data(), m.record->d_csize, m.size);
        return false;
    }
    if (crc != m.record->d_crc32) {
        SetLastError(kErrZip, "File=%.*s, crc32 %08X != %08X in the package",
                     static_cast<int>(name.size()), name.data(), crc, m.record->d_crc32);
        return false;
    }
    return true;
}

uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t size) {
    return static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
}

// Reads an open member through in chunks of `chunk`, handing each to `sink` (offset,
// bytes, count), then checks it. A member that holds more bytes than its record says is
// as wrong as one that holds fewer.
template <typename Sink>
bool StreamMember(std::string_view name, Member& m, std::vector<uint8_t>& chunk, Sink&& sink) {
    uint64_t got = 0;
    uint32_t crc = Crc32Update(0, nullptr, 0);
    for (;;) {
        const zzip_ssize_t n = zzip_file_read(m.file.get(), chunk.data(), chunk.size());
        if (n <= 0) break;
        if (got + static_cast<uint64_t>(n) > m.size) return ShortMember(name, got + n, m.size);
        crc = Crc32Update(crc, chunk.data(), static_cast<size_t>(n));
        if (!sink(got, chunk.data(), static_cast<size_t>(n))) return false;
        got += static_cast<uint64_t>(n);
    }
    return CheckMember(name, m, got, crc);
}

}  // namespace

PackageZipIo::PackageZipIo() {
    zzip_init_io(&inverted_, 0);
    inverted_.fd.read = ReadInverted;
    zzip_init_io(&scrambled_, 0);
    scrambled_.fd.read = ReadScrambled;
}

zzip_plugin_io_t PackageZipIo::For(PackageForm form) const {
    switch (form) {
        case PackageForm::kPlain:
            return zzip_get_default_io();
        case PackageForm::kInverted:
            return &inverted_;
        case PackageForm::kScrambled:
            return &scrambled_;
        default:
            return nullptr;
    }
}

bool ExtractZipMember(ZZIP_DIR* dir, std::string_view name, std::vector<uint8_t>& buffer,
                      uint32_t& size) {
    Member m;
    if (!OpenMember(dir, name, m)) return false;
    size = m.size;
    if (buffer.size() < size + size_t{1}) buffer.resize(size + size_t{1});
    uint64_t got = 0;
    // One byte more than announced is asked for: a member that holds more bytes than its
    // directory entry says is as wrong as one that holds fewer.
    while (got <= size) {
        const zzip_ssize_t n = zzip_file_read(m.file.get(), buffer.data() + got,
                                              static_cast<zzip_size_t>(size + 1 - got));
        if (n <= 0) break;
        got += static_cast<uint64_t>(n);
    }
    const uint32_t crc = Crc32Update(Crc32Update(0, nullptr, 0), buffer.data(),
                                     static_cast<size_t>(std::min<uint64_t>(got, size)));
    return CheckMember(name, m, got, crc);
}

bool ExtractZipMemberToFile(ZZIP_DIR* dir, std::string_view name, const std::string& target,
                            platform::IFileSystem& fs) {
    Member m;
    if (!OpenMember(dir, name, m)) return false;
    const size_t slash = target.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        const std::string parent = target.substr(0, slash);
        if (int e = MakeDirectoryChain(fs, parent)) {
            SetDirectoryError(parent, e);
            return false;
        }
    }
    // The target changes only once the member is complete and checked.
    PartFile out(fs, target);
    if (!out.Open()) return false;
    std::vector<uint8_t> chunk(kChunk);
    return StreamMember(name, m, chunk,
                        [&](uint64_t at, const uint8_t* data, size_t n) {
                            return out.Write(at, data, n);
                        }) &&
           out.Commit(true);
}

bool CheckAllZipMembers(ZZIP_DIR* dir) {
    const zzip_dir_hdr* hdr = dir->hdr0;
    if (hdr == nullptr) {
        SetLastError(kErrZip, "no members");
        return false;
    }
    std::vector<uint8_t> chunk(kChunk);
    for (;;) {
        const std::string name(hdr->d_name, strnlen(hdr->d_name, hdr->d_namlen));
        // Folder records hold nothing; every other member is read as apply would read it.
        if (name.empty() || name.back() != '/') {
            Member m;
            if (!OpenMember(dir, name, m) ||
                !StreamMember(name, m, chunk,
                              [](uint64_t, const uint8_t*, size_t) { return true; })) {
                return false;
            }
        }
        if (hdr->d_reclen == 0) return true;
        hdr = reinterpret_cast<const zzip_dir_hdr*>(reinterpret_cast<const char*>(hdr) +
                                                    hdr->d_reclen);
    }
}

bool HasZipMember(ZZIP_DIR* dir, std::string_view name) {
    return FindRecord(dir, std::string(name)) != nullptr;
}

}  // namespace AXP
