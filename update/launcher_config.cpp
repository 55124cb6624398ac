#include "update/launcher_config.h"

#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/text_file.h"
#include "update/patch_info.h"
#include "update/position_key.h"
#include "update/string_split.h"
#include "update/version_files.h"

namespace {

// The operator's own sites; neutral examples until an operator sets them in the file.
constexpr const char* kMakerSite = "http://www.example.com/";
constexpr const char* kMakerForum = "http://bbs.example.com/";
constexpr const char* kMakerCounter = "http://count.example.com/count/install_register.php";

std::string Value(const CSimpleIniA& ini, const std::string& section, const char* key,
                  const char* fallback) {
    const char* v = ini.GetValue(section.c_str(), key, nullptr);
    return v != nullptr ? v : fallback;
}

// A decimal count that fits 32 bits; anything else is 0, the engine's default.
uint32_t Count(const CSimpleIniA& ini, const std::string& section, const char* key) {
    const std::optional<uint64_t> value = ParseDecimal(Value(ini, section, key, ""));
    return value && *value <= UINT32_MAX ? static_cast<uint32_t>(*value) : 0;
}

}  // namespace

bool LoadConfigFile(std::string_view path, CSimpleIniA& ini) {
    std::string data;
    if (!platform::ReadWholeFile(path, data)) return false;
    if (data.find("quillgate") == std::string::npos) ScrambleBuffer(data.data(), data.size());
    return ini.LoadData(data.data(), data.size()) >= 0;
}

std::vector<std::string> SplitBackupServers(std::string_view value) {
    std::vector<std::string> servers;
    for (std::string_view piece : SplitNonEmpty(value, ';')) servers.emplace_back(piece);
    return servers;
}

bool LoadLauncherConfig(std::string_view configFileName, LauncherConfig& config) {
    config.downloadDir = "download\\";
    platform::CreateDirectoryIfMissing(config.downloadDir);
    config.configPath = std::string(configFileName);
    config.stylePath = kStyleFileName;
    config.quickStyle =
        std::atoi(platform::GetProfileString("Style", "qstyle", "0", config.stylePath).c_str()) !=
        0;

    CSimpleIniA ini(/*isUtf8=*/false, /*multiKey=*/false, /*multiLine=*/false);
    if (!LoadConfigFile(config.configPath, ini)) return false;

    std::string editionId;
    if (ReadEditionIdText(kEditionIdFile, editionId)) {
        config.editionId = editionId;
        config.configSection = ChooseEditionSection(
            config.configSection, editionId,
            [&](const std::string& name) { return ini.GetSection(name.c_str()) != nullptr; });
    }

    const std::string& s = config.configSection;
    config.webUrl = Value(ini, s, "web", kMakerSite);
    config.web2Url = Value(ini, s, "web2", kMakerSite);
    config.web3Url = Value(ini, s, "web3", kMakerSite);
    config.gameExe = Value(ini, s, "game", kDefaultGameExe).substr(0, kConfigPathValueMax);
    if (config.gameExe.empty()) config.gameExe = kDefaultGameExe;
    config.verInfoUrl = Value(ini, s, "verinfo", "");
    config.serverListUrl = Value(ini, s, "serverlist", "");
    config.homePageUrl = Value(ini, s, "home", "");
    config.downloadPageUrl = Value(ini, s, "download", kMakerSite);
    config.newerUrl = Value(ini, s, "newer", kMakerSite);
    config.bbsUrl = Value(ini, s, "bbs", kMakerForum);
    config.billingUrl = Value(ini, s, "billing", kMakerSite);
    config.registerUrl = Value(ini, s, "register", kMakerCounter);
    config.betaVersion = ini.GetBoolValue(s.c_str(), "betaversion", false);
    config.repairUrl = Value(ini, s, "repair", "");
    config.publicKey = Value(ini, s, "publickey", "");
    config.patchInfoPath = config.downloadDir + "patchinfo.txt";
    config.serverListPath = config.downloadDir + "server.lst";
    config.backupServers =
        SplitBackupServers(Value(ini, s, "bakserver", "").substr(0, kConfigPathValueMax));
    config.engine.enabled = ini.GetBoolValue(s.c_str(), "engine", false);
    config.engine.lookupServer = Value(ini, s, "lookup", "");
    config.engine.peerListen = Value(ini, s, "peerlisten", "");
    config.engine.seed = ini.GetBoolValue(s.c_str(), "seed", true);
    config.engine.uploadKiBPerSecond = Count(ini, s, "uploadlimit");
    config.engine.uploadConnections = Count(ini, s, "uploadconnections");
    return true;
}
