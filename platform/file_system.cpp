#include "platform/file_system.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "platform/native_path.h"
#include "platform/text_encoding.h"

namespace platform {
namespace {

// The native path of a GBK path, or the status of bytes that are not GBK.
SysStatus ToNative(std::string_view gbkPath, std::string& native) {
    return NativePath(gbkPath, native) ? SysStatus::Ok() : SysStatus::Failed("decode path", EINVAL);
}

// Writes a new file beside `nativeTarget` with `write`, flushes it to the disk, gives it
// `mode` and renames it over the target, so a crash at any point leaves the target whole
// (old or new). The side file goes again on failure.
SysStatus ReplaceFile(IFileSystem& fs, const std::string& nativeTarget, mode_t mode,
                      const std::function<SysStatus(IFile&)>& write) {
    const std::string part = nativeTarget + ".part";
    std::unique_ptr<IFile> file;
    if (int e = fs.Open(part, FileOpenMode::kCreateReadWrite, file)) {
        return SysStatus::Failed("create", e);
    }
    SysStatus status = write(*file);
    if (status.ok()) {
        if (int e = file->Sync()) status = SysStatus::Failed("sync", e);
    }
    if (int e = file->Close(); e != 0 && status.ok()) status = SysStatus::Failed("close", e);
    if (status.ok() && chmod(part.c_str(), mode) != 0) status = SysStatus::Failed("chmod", errno);
    if (status.ok()) {
        if (int e = fs.Rename(part, nativeTarget)) status = SysStatus::Failed("rename", e);
    }
    if (!status.ok()) fs.Remove(part);
    return status;
}

SysStatus ReplaceFileWithData(IFileSystem& fs, const std::string& nativeTarget, mode_t mode,
                              std::string_view data) {
    return ReplaceFile(fs, nativeTarget, mode, [&](IFile& out) {
        if (int e = out.WriteAt(0, data.data(), data.size())) return SysStatus::Failed("write", e);
        return SysStatus::Ok();
    });
}

}  // namespace

SysStatus CreateDirectoryIfMissing(std::string_view gbkPath) {
    std::string native;
    if (SysStatus s = ToNative(gbkPath, native); !s) return s;
    if (int e = PosixFileSystem().CreateDirectory(native)) return SysStatus::Failed("mkdir", e);
    return SysStatus::Ok();
}

bool PathExists(std::string_view gbkPath) {
    std::string native;
    struct stat st;
    return NativePath(gbkPath, native) && stat(native.c_str(), &st) == 0;
}

SysStatus DeleteFileAt(std::string_view gbkPath) {
    std::string native;
    if (SysStatus s = ToNative(gbkPath, native); !s) return s;
    if (int e = PosixFileSystem().Remove(native)) return SysStatus::Failed("unlink", e);
    return SysStatus::Ok();
}

SysStatus ListDirectory(std::string_view gbkPath, std::vector<DirectoryEntry>& entries) {
    entries.clear();
    std::string native;
    if (SysStatus s = ToNative(gbkPath, native); !s) return s;
    std::vector<NativeDirectoryEntry> found;
    if (int e = PosixFileSystem().List(native, found)) return SysStatus::Failed("readdir", e);
    for (const NativeDirectoryEntry& f : found) {
        DirectoryEntry entry;
        if (!Utf8ToGbk(f.name, entry.gbkName)) continue;
        entry.isDirectory = f.isDirectory;
        entries.push_back(std::move(entry));
    }
    return SysStatus::Ok();
}

bool FileSizeAtLeast(std::string_view gbkPath, uint64_t bytes) {
    std::string native;
    struct stat st;
    return NativePath(gbkPath, native) && stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           static_cast<uint64_t>(st.st_size) >= bytes;
}

SysStatus GetFileFacts(std::string_view gbkPath, FileFacts& facts) {
    std::string native;
    if (SysStatus s = ToNative(gbkPath, native); !s) return s;
    struct stat st;
    if (stat(native.c_str(), &st) != 0) return SysStatus::Failed("stat", errno);
    if (!S_ISREG(st.st_mode)) return SysStatus::Failed("stat", EISDIR);
    facts.size = static_cast<uint64_t>(st.st_size);
    facts.lastWriteNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    facts.mode = static_cast<uint32_t>(st.st_mode & 07777);
    return SysStatus::Ok();
}

SysStatus SetFileMode(std::string_view gbkPath, uint32_t mode) {
    std::string native;
    if (SysStatus s = ToNative(gbkPath, native); !s) return s;
    if (chmod(native.c_str(), static_cast<mode_t>(mode & 07777)) != 0)
        return SysStatus::Failed("chmod", errno);
    return SysStatus::Ok();
}

SysStatus RenamePath(std::string_view fromGbkPath, std::string_view toGbkPath) {
    std::string from, to;
    if (SysStatus s = ToNative(fromGbkPath, from); !s) return s;
    if (SysStatus s = ToNative(toGbkPath, to); !s) return s;
    if (int e = PosixFileSystem().Rename(from, to)) return SysStatus::Failed("rename", e);
    return SysStatus::Ok();
}

SysStatus MakeWritable(std::string_view gbkPath) {
    std::string native;
    if (SysStatus s = ToNative(gbkPath, native); !s) return s;
    struct stat st;
    if (stat(native.c_str(), &st) != 0) return SysStatus::Failed("stat", errno);
    if (chmod(native.c_str(), st.st_mode | S_IWUSR) != 0) return SysStatus::Failed("chmod", errno);
    return SysStatus::Ok();
}

SysStatus CopyFileOver(std::string_view fromGbkPath, std::string_view toGbkPath, IFileSystem& fs) {
    std::string from, to;
    if (SysStatus s = ToNative(fromGbkPath, from); !s) return s;
    if (SysStatus s = ToNative(toGbkPath, to); !s) return s;
    std::unique_ptr<IFile> in;
    if (int e = fs.Open(from, FileOpenMode::kRead, in)) return SysStatus::Failed("open", e);
    struct stat st;
    if (stat(from.c_str(), &st) != 0) return SysStatus::Failed("stat", errno);
    return ReplaceFile(fs, to, st.st_mode & 07777, [&](IFile& out) {
        std::string buffer(1 << 16, '\0');
        for (uint64_t offset = 0;;) {
            size_t got = 0;
            if (int e = in->ReadAt(offset, buffer.data(), buffer.size(), got)) {
                return SysStatus::Failed("read", e);
            }
            if (got == 0) return SysStatus::Ok();
            if (int e = out.WriteAt(offset, buffer.data(), got)) {
                return SysStatus::Failed("write", e);
            }
            offset += got;
        }
    });
}

SysStatus WriteFileReplacing(std::string_view gbkPath, std::string_view data, bool executable,
                             IFileSystem& fs) {
    std::string native;
    if (SysStatus s = ToNative(gbkPath, native); !s) return s;
    return ReplaceFileWithData(fs, native, executable ? 0755 : 0644, data);
}

SysStatus WriteNativeFileReplacing(const std::string& nativePath, std::string_view data,
                                   IFileSystem& fs) {
    return ReplaceFileWithData(fs, nativePath, 0644, data);
}

SysStatus CreatePrivateFile(std::string_view gbkPath, std::string_view data) {
    std::string native;
    if (SysStatus s = ToNative(gbkPath, native); !s) return s;
    const int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return SysStatus::Failed("create", errno);
    SysStatus status = SysStatus::Ok();
    // The mode given to open is cut by the umask, never widened: 0600 holds.
    for (size_t done = 0; done < data.size() && status.ok();) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            status = SysStatus::Failed("write", errno);
        else
            done += static_cast<size_t>(n);
    }
    if (status.ok() && fsync(fd) != 0) status = SysStatus::Failed("sync", errno);
    if (close(fd) != 0 && status.ok()) status = SysStatus::Failed("close", errno);
    if (!status.ok()) unlink(native.c_str());
    return status;
}

}  // namespace platform
