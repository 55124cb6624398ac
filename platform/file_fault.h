// A file-system wrapper for tests that injects failures into another IFileSystem
// (usually PosixFileSystem()): fail the Nth write, the Nth read, every open, every sync,
// or "kill" the process at the Nth write: that write and everything after it fail, as if
// the process had died there (the bytes written before stay on disk).
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
    void FailOpens(int error) { openError_ = error; }  // 0 disables
    void FailSyncs(int error) { syncError_ = error; }  // 0 disables
    void Revive() { killed_ = false; }                 // undoes a simulated kill

    bool killed() const { return killed_; }
    uint64_t writeCount() const { return writes_; }
    uint64_t readCount() const { return reads_; }

    int Open(const std::string& nativePath, FileOpenMode mode,
             std::unique_ptr<IFile>& out) override;
    int Stat(const std::string& nativePath, uint64_t& size, bool& isDirectory) override {
        return inner_.Stat(nativePath, size, isDirectory);
    }

    // Used by the wrapped files: return the error to inject, or 0.
    int OnWrite();
    int OnRead();
    int OnSync() { return killed_ ? 5 : syncError_.load(); }

  private:
    IFileSystem& inner_;
    std::atomic<uint64_t> writes_{0}, failWriteAt_{0}, reads_{0}, failReadAt_{0};
    std::atomic<int> writeError_{5}, readError_{5}, openError_{0}, syncError_{0};
    std::atomic<bool> killOnWrite_{false}, killed_{false};
};

}  // namespace platform
