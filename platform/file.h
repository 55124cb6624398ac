// The one file-system seam: open or create by native path, positional reads and writes,
// size, truncate/extend, sync and close, and stat, rename, remove, directory creation and
// listing.
//
// Everything that changes files on disk in the pack library and the updater goes through
// an IFileSystem so that tests can put a wrapper in between (platform/file_fault.h fails
// the Nth write or rename, simulates a killed process, ...). The default is
// PosixFileSystem().
//
// Paths: every path here is native (UTF-8, "/" separators); platform::NativePath turns
// the system's GBK paths into native ones. Parameters are named nativePath to say so.
//
// Errors: every operation returns 0 on success or the errno value of its failure; the
// operation is the method called, so callers put the number into their own error texts.
//
// Thread safety: ReadAt and WriteAt are positional (pread/pwrite): several threads may
// call them on one IFile at the same time; they share no file position. GetSize, SetSize,
// Sync are safe to call concurrently with reads. Close must not race with anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

enum class FileOpenMode {
    kRead,            // existing file, read only
    kReadWrite,       // existing file, read and write
    kCreateReadWrite  // created, or truncated to 0 bytes when it exists; read and write
};

class IFile {
  public:
    virtual ~IFile() = default;  // closes the file if still open (errors are dropped)

    // Reads up to `size` bytes at `offset` into `data`; `got` receives the count read,
    // which is less than `size` only at the end of the file.
    virtual int ReadAt(uint64_t offset, void* data, size_t size, size_t& got) = 0;
    // Writes all `size` bytes at `offset` (the file grows as needed, a gap reads as zeros).
    // On failure some of the bytes may have been written.
    virtual int WriteAt(uint64_t offset, const void* data, size_t size) = 0;
    virtual int GetSize(uint64_t& size) = 0;
    // Truncates or extends (with zero bytes) the file to `size` bytes.
    virtual int SetSize(uint64_t size) = 0;
    // Makes the written data durable (fdatasync).
    virtual int Sync() = 0;
    // Closes the handle; later calls fail with EBADF.
    virtual int Close() = 0;
};

struct NativeDirectoryEntry {
    std::string name;  // UTF-8
    bool isDirectory = false;
};

class IFileSystem {
  public:
    virtual ~IFileSystem() = default;
    // Opens `nativePath` (UTF-8, "/" separators; see platform/native_path.h to get one).
    // On success `out` holds the file; on failure it is reset.
    virtual int Open(const std::string& nativePath, FileOpenMode mode,
                     std::unique_ptr<IFile>& out) = 0;
    // Size of an existing file without opening it for reading; ENOENT when absent.
    virtual int Stat(const std::string& nativePath, uint64_t& size, bool& isDirectory) = 0;
    // Renames `fromNativePath` over `toNativePath` in one step (an existing file there is
    // replaced), so that the target is either the old or the new file, never a part. Both
    // must lie on one file system: nothing is copied (EXDEV otherwise).
    virtual int Rename(const std::string& fromNativePath, const std::string& toNativePath) = 0;
    // Deletes a file; ENOENT when there is none.
    virtual int Remove(const std::string& nativePath) = 0;
    // Creates one directory (not its parents); 0 when it exists already as a directory.
    virtual int CreateDirectory(const std::string& nativePath) = 0;
    // The entries of a directory, without "." and ".."; empty path: the current directory.
    virtual int List(const std::string& nativePath, std::vector<NativeDirectoryEntry>& entries) = 0;
};

// The process-wide POSIX implementation (stateless, thread safe, never destroyed).
IFileSystem& PosixFileSystem();

// Reads exactly `size` bytes at `offset`. Returns 0, an errno value, or -1 when the file
// ended first (a short read).
int ReadExactAt(IFile& file, uint64_t offset, void* data, size_t size);

}  // namespace platform
