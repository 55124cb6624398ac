// A file-system wrapper for tests that injects failures into another IFileSystem
// (usually PosixFileSystem()): fail the Nth write, read, rename or remove, every open,
// every sync, or "kill" the process at the Nth write, rename or remove: that call and
// everything after it fail, as if the process had died there (what was done before stays
// on disk).
//
// Counters are shared by all files opened through one wrapper. Thread safe.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/file.h"

namespace platform {

class FaultInjectingFileSystem final : public IFileSystem {
  public:
    explicit FaultInjectingFileSystem(IFileSystem& inner = PosixFileSystem()) : inner_(inner) {}

    // 1-based number of the write (WriteAt or SetSize, counted from now on) that fails with
    // `error`; 0 disables. With `kill` set, every later write, read, sync and open fails too.
    void FailWriteNumber(uint64_t n, int error = 5 /* EIO */, bool kill = false) {
        writes_ = 0;
        failWriteAt_ = n;
        writeError_ = error;
        killOnWrite_ = kill;
    }
    // 1-based number of the read (counted from now on) that fails; 0 disables.
    void FailReadNumber(uint64_t n, int error = 5 /* EIO */) {
        reads_ = 0;
        failReadAt_ = n;
        readError_ = error;
    }
    // 1-based number of the rename (counted from now on) that fails; 0 disables. With
    // `kill` set, everything after it fails too.
    void FailRenameNumber(uint64_t n, int error = 5 /* EIO */, bool kill = false) {
        renames_ = 0;
        failRenameAt_ = n;
        renameError_ = error;
        killOnRename_ = kill;
    }
    // The same for removals of files.
    void FailRemoveNumber(uint64_t n, int error = 5 /* EIO */, bool kill = false) {
        removes_ = 0;
        failRemoveAt_ = n;
        removeError_ = error;
        killOnRemove_ = kill;
    }
    void FailOpens(int error) { openError_ = error; }  // 0 disables
    void FailSyncs(int error) { syncError_ = error; }  // 0 disables
    void Revive() { killed_ = false; }                 // undoes a simulated kill

    bool killed() const { return killed_; }
    uint64_t writeCount() const { return writes_; }
    uint64_t readCount() const { return reads_; }
    uint64_t renameCount() const { return renames_; }
    uint64_t removeCount() const { return removes_; }

    int Open(const std::string& nativePath, FileOpenMode mode,
             std::unique_ptr<IFile>& out) override;
    int Stat(const std::string& nativePath, uint64_t& size, bool& isDirectory) override {
        return inner_.Stat(nativePath, size, isDirectory);
    }
    int Rename(const std::string& fromNativePath, const std::string& toNativePath) override;
    int Remove(const std::string& nativePath) override;
    int CreateDirectory(const std::string& nativePath) override {
        return killed_ ? 5 : inner_.CreateDirectory(nativePath);
    }
    int List(const std::string& nativePath, std::vector<NativeDirectoryEntry>& entries) override {
        return inner_.List(nativePath, entries);
    }

    // Used by the wrapped files: return the error to inject, or 0.
    int OnWrite();
    int OnRead();
    int OnSync() { return killed_ ? 5 : syncError_.load(); }

  private:
    // Counts a call of a kind and gives the error to inject at the chosen number, or 0.
    int Count(std::atomic<uint64_t>& count, const std::atomic<uint64_t>& failAt,
              const std::atomic<int>& error, const std::atomic<bool>& kill);

    IFileSystem& inner_;
    std::atomic<uint64_t> writes_{0}, failWriteAt_{0}, reads_{0}, failReadAt_{0};
    std::atomic<uint64_t> renames_{0}, failRenameAt_{0}, removes_{0}, failRemoveAt_{0};
    std::atomic<int> writeError_{5}, readError_{5}, openError_{0}, syncError_{0};
    std::atomic<int> renameError_{5}, removeError_{5};
    std::atomic<bool> killOnWrite_{false}, killOnRename_{false}, killOnRemove_{false};
    std::atomic<bool> killed_{false};
};

}  // namespace platform
