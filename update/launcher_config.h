// The launcher's site settings, read from "quillgate.cfg" (plain or scrambled as a whole)
// and the user's style choice from "style.cfg". Every path is relative to the current
// directory, which is the client directory.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "update/simple_ini.h"

inline constexpr const char* kConfigFileName = "quillgate.cfg";
inline constexpr const char* kStyleFileName = "style.cfg";
inline constexpr const char* kDefaultGameExe = "qadr.exe";
// Longest value kept for "game" and "bakserver"; longer ones are cut.
inline constexpr size_t kConfigPathValueMax = 259;

// The download engine's keys. Without "engine" (or with it off) every file comes over plain
// HTTP from one server at a time, as it always has.
struct EngineConfig {
    // "engine": patch packages and repaired files come through the download engine, from
    // every update server (the primary and each "bakserver") at once.
    bool enabled = false;
    std::string lookupServer;  // "lookup": HOST:PORT of the lookup service; empty: none
    // "peerlisten": ADDRESS:PORT where the engine serves what it holds to other players;
    // empty: the engine's default.
    std::string peerListen;
    bool seed = true;  // "seed": go on serving the fetched packages while the launcher runs
    // "uploadlimit" (KiB per second) and "uploadconnections" (at once) for what others
    // fetch from this player; 0, or a value that is not a decimal: the engine's default.
    uint32_t uploadKiBPerSecond = 0;
    uint32_t uploadConnections = 0;
};

struct LauncherConfig {
    std::string configSection = "quillgate";
    std::string editionId;  // from "ver.id", empty when there is none
    std::string downloadDir;
    std::string configPath;
    std::string stylePath;
    bool quickStyle = false;
    std::string webUrl;
    std::string web2Url;
    std::string web3Url;
    std::string gameExe = kDefaultGameExe;
    std::string verInfoUrl;
    std::string patchInfoPath;
    std::string serverListUrl;
    std::string serverListPath;
    std::string homePageUrl;
    std::string downloadPageUrl;
    std::string newerUrl;
    std::string bbsUrl;
    std::string billingUrl;
    std::string registerUrl;
    bool betaVersion = false;
    std::string repairUrl;
    // The operator's Ed25519 public key in hex ("publickey"); empty: the site is not signed
    // and nothing is checked beyond the packages' own checksums.
    std::string publicKey;
    std::vector<std::string> backupServers;
    EngineConfig engine;
};

// Reads the file whole, unscrambles it unless it holds the text "quillgate", and gives it
// to the parser (a leading UTF-8 byte-order mark is skipped). False when the file is
// missing or does not parse.
bool LoadConfigFile(std::string_view path, CSimpleIniA& ini);

// Fills `config`: the download directory (created), the style from "style.cfg" (always),
// then the keys of `configFileName` from the section that the edition in "ver.id"
// selects. False when the configuration file cannot be loaded; the caller reports it.
bool LoadLauncherConfig(std::string_view configFileName, LauncherConfig& config);

// Splits a "bakserver" value at ";", dropping empty pieces.
std::vector<std::string> SplitBackupServers(std::string_view value);
