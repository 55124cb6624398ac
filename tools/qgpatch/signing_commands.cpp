#include "signing_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>

#include "common/cli.h"
#include "platform/file_system.h"
#include "platform/text_file.h"
#include "update/patch_info.h"
#include "update/release_trust.h"
#include "update/repair_digests.h"
#include "update/signature.h"

namespace qgpatch {

const char kKeygenHelp[] =
    "  qgpatch keygen -o KEYFILE\n"
    "      makes a new Ed25519 key: the secret half goes to KEYFILE (readable by you only;\n"
    "      an existing file is never replaced), the public key is printed as hex: give it\n"
    "      to the launchers as \"publickey\" in their configuration\n";

const char kSignHelp[] =
    "  qgpatch sign --key KEYFILE [--role ROLE] [--serial N] FILE...\n"
    "      writes FILE.sig, a detached signature for the file's role, beside each FILE:\n"
    "      ROLE server-list (the default), patchinfo (the default for \"patchinfo.txt\")\n"
    "      or repair-list (the default for \"current.ver.sha256\"); a server list's\n"
    "      signature carries a serial: --serial N (default: the time, and always above\n"
    "      the serial of the FILE.sig it replaces)\n";

namespace {

using cli::Usage;

}  // namespace

int RunKeygen(const CommandLine& line) {
    const std::string keyFile = line.Value("-o");
    if (!line.operands.empty() || keyFile.empty()) return Usage("keygen needs -o KEYFILE");
    SecretKey secret;
    PublicKey key;
    std::string gbk;
    if (!GenerateKeyPair(secret, key)) {
        std::fprintf(stderr, "qgpatch: keygen: the crypto library cannot start\n");
        return 1;
    }
    if (!cli::PathToGbk(keyFile, gbk)) return 2;
    if (const platform::SysStatus s = platform::CreatePrivateFile(gbk, SecretKeyFileText(secret));
        !s) {
        std::fprintf(stderr, "qgpatch: keygen: cannot create %s (%s: %s)\n", keyFile.c_str(),
                     s.operation, std::strerror(s.error));
        return 1;
    }
    std::printf("%s\n", PublicKeyHex(key).c_str());
    return 0;
}

namespace {

std::optional<SignedRole> RoleNamed(const std::string& name) {
    if (name == "server-list") return SignedRole::ServerList;
    if (name == "patchinfo") return SignedRole::PatchInfo;
    if (name == "repair-list") return SignedRole::RepairList;
    return std::nullopt;
}

// The role of a file signed without --role, by its name.
SignedRole RoleOfFile(const std::string& path) {
    const std::string name = path.substr(path.find_last_of('/') + 1);
    if (name == "patchinfo.txt") return SignedRole::PatchInfo;
    if (name == kRepairDigestsName) return SignedRole::RepairList;
    return SignedRole::ServerList;
}

}  // namespace

int RunSign(const CommandLine& line) {
    const std::string keyFile = line.Value("--key"), serialText = line.Value("--serial");
    std::optional<SignedRole> role;
    for (const std::vector<std::string>& use : line.Uses("--role")) {
        role = RoleNamed(use.front());
        if (!role) return Usage("sign: --role is server-list, patchinfo or repair-list");
    }
    const std::vector<std::string>& files = line.operands;
    if (keyFile.empty() || files.empty()) return Usage("sign needs --key KEYFILE FILE...");
    SecretKey secret;
    PublicKey key;
    if (!LoadSecretKey(keyFile, secret, key)) return 1;
    for (const std::string& file : files) {
        const SignedRole fileRole = role.value_or(RoleOfFile(file));
        std::string gbk, data;
        if (!cli::PathToGbk(file, gbk)) return 2;
        if (!platform::ReadWholeFile(gbk, data)) {
            std::fprintf(stderr, "qgpatch: sign: cannot read %s\n", file.c_str());
            return 1;
        }
        uint64_t serial = 0;
        if (SignedRoleHasSerial(fileRole)) {
            std::string previous;
            platform::ReadWholeFile(gbk + kSignatureSuffix, previous);
            int exitCode = 0;
            if (!ChooseSerial("sign", serialText, SignatureTextSerial(previous).value_or(0),
                              file + kSignatureSuffix, serial, exitCode))
                return exitCode;
        } else if (!serialText.empty()) {
            return Usage("sign: --serial belongs to a server list");
        }
        if (!WriteSignatureFile(file, fileRole, data, secret, serial)) return 1;
        std::printf("%s%s\n", file.c_str(), kSignatureSuffix);
    }
    return 0;
}

bool LoadSecretKey(const std::string& path, SecretKey& secret, PublicKey& key) {
    std::string gbk, text;
    if (!cli::PathToGbk(path, gbk)) return false;
    if (!platform::ReadWholeFile(gbk, text)) {
        std::fprintf(stderr, "qgpatch: cannot read the key file %s\n", path.c_str());
        return false;
    }
    if (!ParseSecretKeyFile(text, secret, key)) {
        std::fprintf(stderr, "qgpatch: %s is no key file (64 hex digits, from qgpatch keygen)\n",
                     path.c_str());
        return false;
    }
    return true;
}

bool WriteSignatureFile(const std::string& path, SignedRole role, const std::string& data,
                        const SecretKey& secret, uint64_t serial) {
    std::string gbk;
    if (!cli::PathToGbk(path + kSignatureSuffix, gbk)) return false;
    if (!platform::WriteFileReplacing(gbk, SignatureFileFor(role, data, secret, serial))) {
        std::fprintf(stderr, "qgpatch: cannot write %s%s\n", path.c_str(), kSignatureSuffix);
        return false;
    }
    return true;
}

bool ChooseSerial(const std::string& command, const std::string& serialText, uint64_t previous,
                  const std::string& replaced, uint64_t& serial, int& exitCode) {
    if (serialText.empty()) {
        serial = std::max(static_cast<uint64_t>(std::time(nullptr)), previous + 1);
        return true;
    }
    const std::optional<uint64_t> given = ParseDecimal(serialText);
    if (!given) {
        exitCode = Usage(command + ": --serial needs a decimal number");
        return false;
    }
    if (*given <= previous) {
        std::fprintf(stderr,
                     "qgpatch: %s: serial %llu is not above %llu of the current %s: "
                     "launchers that saw it would refuse the site\n",
                     command.c_str(), static_cast<unsigned long long>(*given),
                     static_cast<unsigned long long>(previous), replaced.c_str());
        exitCode = 1;
        return false;
    }
    serial = *given;
    return true;
}

}  // namespace qgpatch
