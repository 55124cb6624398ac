#include "app/install_ping.h"

#include <utility>

std::string ReadTrimmedFirstLine(std::string_view) { return {}; }

InstallRegisterPing::InstallRegisterPing(std::string registerUrl)
    : registerUrl_(std::move(registerUrl)) {}

InstallRegisterPing::~InstallRegisterPing() {
    if (thread_.joinable()) thread_.join();
}

bool InstallRegisterPing::Prepare() { return false; }
void InstallRegisterPing::StartThread() {}
void InstallRegisterPing::RegisterPingThread() {}
