#include "app/game_start.h"

#include <utility>

#include "update/launcher_config.h"

GameStarter::GameStarter(GameStartHost host, const LauncherConfig& config, std::string editionId)
    : host_(std::move(host)), config_(config), editionId_(std::move(editionId)) {}

GameStarter::~GameStarter() = default;

void GameStarter::StartGame() {}
void GameStarter::RunConfigTool() {}
void GameStarter::OpenProxySettings() {}
void GameStarter::OnSdoShowLogin() {}
void GameStarter::OnSdoLoginOk() {}
void GameStarter::OnSdoLoginCancel() {}
void GameStarter::RunProxyEntry(const char*, bool) {}
void GameStarter::StartGameAndClose() {}
