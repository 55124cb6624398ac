// An exclusive lock on a file, held by the process (and the launcher processes it hands
// over to) and released by the system when the last of them ends, however it ends.
#pragma once

#include <string>
#include <string_view>

namespace platform {

class FileLock {
  public:
    enum class Result {
        Acquired,  // this process holds the lock now
        Busy,      // another process holds it
        Failed,    // the lock file cannot be opened or locked
    };

    FileLock() = default;
    ~FileLock();  // releases the lock unless a started process shares it
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock on `gbkPath`, creating the file when it is missing. A lock handed
    // down by the process that started this one (ShareWithNextProcess) for the same
    // file is taken over, so the lock is never free between the two.
    Result Acquire(std::string_view gbkPath);
    // Takes the lock on a native path (outside the client folder), without looking for a
    // handed-down one: it leaves the environment alone, so a thread may call it while
    // others run.
    Result AcquireNative(const std::string& nativePath);

    // Lets the processes started from now on inherit the held lock and take it over
    // with Acquire. False when no lock is held.
    bool ShareWithNextProcess();
    // Stops handing the lock down to processes started later.
    void StopSharing();

    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace platform
