// A stand-in for "fmproxy.dll": each entry appends "ENTRY ARGUMENT" to "run.log" in the
// current folder. CheckProcessEntry takes its time first, so that a caller that does not
// wait for it would see the game start before the line; SettingProcessEntry first waits
// (at most ten seconds) for "release" to appear, so that a caller that waited would hang.
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

void Log(const char* entry, const char* argument) {
    std::ofstream("run.log", std::ios::app) << entry << " " << argument << "\n";
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void CheckProcessEntry(void*, void*, const char* argument,
                                                              int) {
    usleep(300 * 1000);
    Log("CheckProcessEntry", argument);
}

__attribute__((visibility("default"))) void SettingProcessEntry(void*, void*, const char* argument,
                                                                int) {
    for (int i = 0; i < 1000 && access("release", F_OK) != 0; ++i) usleep(10 * 1000);
    Log("SettingProcessEntry", argument);
}

}  // extern "C"
