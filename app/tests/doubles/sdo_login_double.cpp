// A stand-in for the outside SDO login module, built as "sdologinentry.dll". It appends
// every call to "SDO/calls.log" in the current folder and, when asked to show the login
// window, answers from a thread of its own as "SDO/mode" says:
//   cancel        the user closed the login window (code -101)
//   login         a login (code 0) with the string array
//   other         an unknown code (7)
//   no-strings    a login (code 0) without its string array
//   init-fails    SDOLInitialize fails
//   module-fails  SDOLGetModule fails
// Built with QG_SDO_DOUBLE_WITHOUT_TERMINAL it lacks SDOLTerminal.
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "app/sdo_module.h"

namespace {

std::mutex g_logMutex;
std::thread g_answer;

void Log(const std::string& line) {
    std::lock_guard<std::mutex> guard(g_logMutex);
    std::ofstream("SDO/calls.log", std::ios::app) << line << "\n";
}

std::string Mode() {
    std::ifstream in("SDO/mode");
    std::string mode;
    in >> mode;
    return mode;
}

std::string Narrow(const char16_t* text) {
    std::string out;
    for (; text != nullptr && *text != u'\0'; ++text) {
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    }
    return out;
}

void JoinAnswer() {
    if (g_answer.joinable()) g_answer.join();
}

uint32_t Release(SDOLLoginModule*) {
    JoinAnswer();
    Log("release");
    return 0;
}

int32_t Attach(SDOLLoginModule*, uintptr_t window) {
    std::ostringstream line;
    line << "attach " << std::hex << std::uppercase << window;
    Log(line.str());
    return 0;
}

int32_t Show(SDOLLoginModule*, SDOLLoginCallback callback, intptr_t, intptr_t) {
    JoinAnswer();
    Log("show");
    const std::string mode = Mode();
    g_answer = std::thread([callback, mode] {
        static const char16_t* const kInfo[] = {u"account", u"session-42", u"aid-7", u"spare",
                                                u"extra \u4e2d"};
        int32_t code = 7;
        if (mode == "cancel") code = kSdoLoginClosed;
        if (mode == "login" || mode == "no-strings") code = kSdoLoginDone;
        const int32_t result = callback(code, mode == "login" ? kInfo : nullptr, 0, 0);
        Log("callback " + std::to_string(code) + " -> " + std::to_string(result));
    });
    return 0;
}

int32_t Hide(SDOLLoginModule*) {
    JoinAnswer();
    Log("hide");
    return 0;
}

const SDOLLoginModuleTable kTable = {nullptr, nullptr, &Release, &Attach, &Show, &Hide};
SDOLLoginModule g_module = {&kTable};

__attribute__((constructor)) void OnLoad() { Log("load"); }
__attribute__((destructor)) void OnUnload() { JoinAnswer(); }

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t SDOLInitialize(const SDOLAppInfo* application) {
    std::ostringstream line;
    line << "init " << application->size << " " << application->applicationId << " "
         << Narrow(application->version) << " " << (application->name[0] != u'\0') << " "
         << application->reserved1 << " " << application->reserved2;
    Log(line.str());
    return Mode() == "init-fails" ? 1 : 0;
}

__attribute__((visibility("default"))) int32_t SDOLGetModule(const SDOLGuid* interfaceId,
                                                             SDOLLoginModule** module) {
    Log("get-module");
    if (Mode() == "module-fails" ||
        std::memcmp(interfaceId, &kSdoLoginModuleId, sizeof(SDOLGuid)) != 0) {
        return 1;
    }
    *module = &g_module;
    return 0;
}

#ifndef QG_SDO_DOUBLE_WITHOUT_TERMINAL
__attribute__((visibility("default"))) int32_t SDOLTerminal(void) {
    JoinAnswer();
    Log("terminal");
    return 0;
}
#endif

}  // extern "C"
