// The one-time install report: the name in "(register)" is sent to the operator's
// counting server once; a "SUCCESS" reply deletes the file so that it is never sent again.
// Every failure is silent and leaves "(register)" for the next start.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

inline constexpr const char* kRegisterFileName = "(register)";
// Names the lock that keeps two launchers from reporting at the same time.
inline constexpr const char* kRegisterLockName = "3f6b91e2-5c7a-4d18-a0e4-6b2d9c170f3a";

// At most 31 characters of the file's first line, without leading blanks and tabs and
// without trailing blanks, tabs, carriage returns and line feeds; empty when the file is
// missing or the line holds nothing else.
std::string ReadTrimmedFirstLine(std::string_view gbkPath);

// "URL?name=NAME&gameid=1" with the name escaped for a query value; empty when it would
// pass 1023 characters (a cut address would report another name).
std::string RegisterPingUrl(std::string_view registerUrl, std::string_view name);

// Threads: construct, Prepare and StartThread on the dialog's thread; the report then
// runs on its own thread, which touches only this object, a private temporary folder and
// "(register)" in the current folder.
class InstallRegisterPing {
  public:
    // Gives up on a server that has not answered within this time.
    static constexpr uint32_t kDefaultTimeoutMs = 30000;

    explicit InstallRegisterPing(std::string registerUrl);
    // Cuts a running report short and waits for its thread.
    ~InstallRegisterPing();
    InstallRegisterPing(const InstallRegisterPing&) = delete;
    InstallRegisterPing& operator=(const InstallRegisterPing&) = delete;

    // Reads the name from "(register)" and finds the lock file; true when there is a name
    // to report.
    bool Prepare();
    // Starts the report on its own thread when Prepare found a name.
    void StartThread();
    // The report itself (the thread's body): under the lock, fetch the reply into a
    // temporary file and delete "(register)" when it is "SUCCESS". Public so that tests
    // can run it in place.
    void RegisterPingThread();

    void SetTimeoutMs(uint32_t ms) { timeoutMs_ = ms; }

  private:
    std::string registerUrl_;
    std::string name_;
    std::string lockPath_;  // native
    uint32_t timeoutMs_ = kDefaultTimeoutMs;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
