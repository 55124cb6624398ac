// The one-time install report: the name in "(register)" is sent to the operator's
// counting server once; a "SUCCESS" reply deletes the file so that it is never sent again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

// At most 31 characters of the file's first line, without leading blanks and tabs and
// without trailing blanks, tabs, carriage returns and line feeds; empty when the file is
// missing or the line holds nothing else.
std::string ReadTrimmedFirstLine(std::string_view gbkPath);

class InstallRegisterPing {
  public:
    explicit InstallRegisterPing(std::string registerUrl);
    // Waits for a running report (it ends within its time-out).
    ~InstallRegisterPing();
    InstallRegisterPing(const InstallRegisterPing&) = delete;
    InstallRegisterPing& operator=(const InstallRegisterPing&) = delete;

    // Reads the name from "(register)"; true when there is one to report.
    bool Prepare();
    // Starts the report on its own thread when Prepare found a name.
    void StartThread();
    // The report itself (the thread's body); public for tests that run it in place.
    void RegisterPingThread();

  private:
    std::string registerUrl_;
    std::string name_;
    std::thread thread_;
};
