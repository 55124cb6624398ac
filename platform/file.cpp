#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

class PosixFile final : public IFile {
  public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override { Close(); }

    int ReadAt(uint64_t offset, void* data, size_t size, size_t& got) override {
        got = 0;
        auto* p = static_cast<unsigned char*>(data);
        while (got < size) {
            ssize_t n = ::pread(fd_, p + got, size - got, static_cast<off_t>(offset + got));
            if (n < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            if (n == 0) break;
            got += static_cast<size_t>(n);
        }
        return 0;
    }

    int WriteAt(uint64_t offset, const void* data, size_t size) override {
        const auto* p = static_cast<const unsigned char*>(data);
        size_t done = 0;
        while (done < size) {
            ssize_t n = ::pwrite(fd_, p + done, size - done, static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            if (n == 0) return EIO;
            done += static_cast<size_t>(n);
        }
        return 0;
    }

    int GetSize(uint64_t& size) override {
        struct stat st;
        if (::fstat(fd_, &st) != 0) return errno;
        size = static_cast<uint64_t>(st.st_size);
        return 0;
    }

    int SetSize(uint64_t size) override {
        return ::ftruncate(fd_, static_cast<off_t>(size)) == 0 ? 0 : errno;
    }

    int Sync() override { return ::fdatasync(fd_) == 0 ? 0 : errno; }

    int Close() override {
        if (fd_ < 0) return EBADF;
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

  private:
    int fd_;
};

class PosixFileSystemImpl final : public IFileSystem {
  public:
    int Open(const std::string& nativePath, FileOpenMode mode,
             std::unique_ptr<IFile>& out) override {
        out.reset();
        int flags = O_CLOEXEC;
        switch (mode) {
            case FileOpenMode::kRead:
                flags |= O_RDONLY;
                break;
            case FileOpenMode::kReadWrite:
                flags |= O_RDWR;
                break;
            case FileOpenMode::kCreateReadWrite:
                flags |= O_RDWR | O_CREAT | O_TRUNC;
                break;
        }
        int fd;
        do {
            fd = ::open(nativePath.c_str(), flags, 0644);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) return errno;
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            return EISDIR;
        }
        out = std::make_unique<PosixFile>(fd);
        return 0;
    }

    int Stat(const std::string& nativePath, uint64_t& size, bool& isDirectory) override {
        struct stat st;
        if (::stat(nativePath.c_str(), &st) != 0) return errno;
        size = static_cast<uint64_t>(st.st_size);
        isDirectory = S_ISDIR(st.st_mode);
        return 0;
    }

    int Rename(const std::string& fromNativePath, const std::string& toNativePath) override {
        return ::rename(fromNativePath.c_str(), toNativePath.c_str()) == 0 ? 0 : errno;
    }

    int Remove(const std::string& nativePath) override {
        return ::unlink(nativePath.c_str()) == 0 ? 0 : errno;
    }

    int CreateDirectory(const std::string& nativePath) override {
        if (::mkdir(nativePath.c_str(), 0755) == 0) return 0;
        const int error = errno;
        struct stat st;
        if (error == EEXIST && ::stat(nativePath.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return 0;
        return error;
    }

    int List(const std::string& nativePath, std::vector<NativeDirectoryEntry>& entries) override {
        entries.clear();
        DIR* dir = ::opendir(nativePath.empty() ? "." : nativePath.c_str());
        if (dir == nullptr) return errno;
        const std::string prefix =
            nativePath.empty() || nativePath.back() == '/' ? nativePath : nativePath + "/";
        errno = 0;
        while (dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            struct stat st;
            const bool isDirectory =
                ::stat((prefix + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
            entries.push_back({name, isDirectory});
            errno = 0;
        }
        const int error = errno;
        ::closedir(dir);
        return error;
    }
};

}  // namespace

IFileSystem& PosixFileSystem() {
    static PosixFileSystemImpl instance;
    return instance;
}

int ReadExactAt(IFile& file, uint64_t offset, void* data, size_t size) {
    size_t got = 0;
    int err = file.ReadAt(offset, data, size, got);
    if (err != 0) return err;
    return got == size ? 0 : -1;
}

}  // namespace platform
