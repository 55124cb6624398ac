#include "package_zip.h"

#include <errno.h>

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

// Opens a member and gets its size; error 14 with the directory's zziplib code.
bool OpenMember(ZZIP_DIR* dir, std::string_view name, ZipFile& file, uint32_t& size) {
    const std::string key(name);
    file.reset(zzip_file_open(dir, key.c_str(), ZZIP_CASELESS | ZZIP_ONLYZIP));
    ZZIP_STAT st{};
    if (!file || zzip_dir_stat(dir, key.c_str(), &st, ZZIP_CASELESS) != 0 || st.st_size < 0) {
        SetLastError(kErrZip, "ziperr=%d", zzip_error(dir));
        return false;
    }
    size = static_cast<uint32_t>(st.st_size);
    return true;
}

bool ShortMember(std::string_view name, uint64_t got, uint32_t size) {
    SetLastError(kErrZip, "File=%.*s, %llu of %u bytes in the package",
                 static_cast<int>(name.size()), name.data(), static_cast<unsigned long long>(got),
                 size);
    return false;
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
    ZipFile file;
    if (!OpenMember(dir, name, file, size)) return false;
    if (buffer.size() < size + size_t{1}) buffer.resize(size + size_t{1});
    uint64_t got = 0;
    // One byte more than announced is asked for: a member that holds more bytes than its
    // directory entry says is as wrong as one that holds fewer.
    while (got <= size) {
        const zzip_ssize_t n = zzip_file_read(file.get(), buffer.data() + got,
                                              static_cast<zzip_size_t>(size + 1 - got));
        if (n <= 0) break;
        got += static_cast<uint64_t>(n);
    }
    if (got != size) return ShortMember(name, got, size);
    return true;
}

bool ExtractZipMemberToFile(ZZIP_DIR* dir, std::string_view name, const std::string& target,
                            platform::IFileSystem& fs) {
    ZipFile file;
    uint32_t size = 0;
    if (!OpenMember(dir, name, file, size)) return false;
    const size_t slash = target.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        const std::string parent = target.substr(0, slash);
        if (!CreateDirectoryChain(parent)) {
            SetLastError(kErrOpen, "Path=%s, WinErr=%d", parent.c_str(), errno);
            return false;
        }
    }
    // The content goes to a file beside the target, which replaces the target only when
    // it is complete: a failed or killed extraction never leaves a short file, and the
    // next run writes the same side file again and renames it away.
    const std::string part = target + ".~part";
    std::unique_ptr<platform::IFile> out;
    if (int e = fs.Open(ToNativePath(part), platform::FileOpenMode::kCreateReadWrite, out)) {
        SetLastError(kErrOpen, "File=%s, WinErr=%d", target.c_str(), e);
        return false;
    }
    auto fail = [&] {
        out.reset();
        platform::DeleteFileAt(part);
        return false;
    };
    std::vector<uint8_t> chunk(kChunk);
    uint64_t got = 0;
    for (;;) {
        const zzip_ssize_t n = zzip_file_read(file.get(), chunk.data(), chunk.size());
        if (n <= 0) break;
        if (got + static_cast<uint64_t>(n) > size) {
            ShortMember(name, got + static_cast<uint64_t>(n), size);
            return fail();
        }
        if (int e = out->WriteAt(got, chunk.data(), static_cast<size_t>(n))) {
            SetLastError(kErrWrite, "File=%s, WinErr: %d", target.c_str(), e);
            return fail();
        }
        got += static_cast<uint64_t>(n);
    }
    if (got != size) {
        ShortMember(name, got, size);
        return fail();
    }
    int e = out->Sync();
    if (e == 0) e = out->Close();
    if (e == 0) e = platform::RenameReplacing(part, target);
    if (e != 0) {
        SetLastError(kErrWrite, "File=%s, WinErr: %d", target.c_str(), e);
        return fail();
    }
    return true;
}

}  // namespace AXP
