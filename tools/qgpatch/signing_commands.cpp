#include "signing_commands.h"

#include <cstdio>
#include <cstring>

#include "common/cli.h"
#include "platform/file_system.h"
#include "platform/text_file.h"
#include "update/release_trust.h"
#include "update/signature.h"

namespace qgpatch {

const char kSigningHelp[] =
    "  qgpatch keygen -o KEYFILE\n"
    "      makes a new Ed25519 key: the secret half goes to KEYFILE (readable by you only;\n"
    "      an existing file is never replaced), the public key is printed as hex: give it\n"
    "      to the launchers as \"publickey\" in their configuration\n"
    "  qgpatch sign --key KEYFILE FILE...\n"
    "      writes FILE.sig, a detached signature, beside each FILE that the launcher\n"
    "      fetches besides the patch information (the server list)\n";

namespace {

using cli::Usage;

int KeyGen(const std::vector<std::string>& args) {
    if (args.size() != 2 || args[0] != "-o") return Usage("keygen needs -o KEYFILE");
    SecretKey secret;
    PublicKey key;
    std::string gbk;
    if (!GenerateKeyPair(secret, key)) {
        std::fprintf(stderr, "qgpatch: keygen: the crypto library cannot start\n");
        return 1;
    }
    if (!cli::PathToGbk(args[1], gbk)) return 2;
    if (const platform::SysStatus s = platform::CreatePrivateFile(gbk, SecretKeyFileText(secret));
        !s) {
        std::fprintf(stderr, "qgpatch: keygen: cannot create %s (%s: %s)\n", args[1].c_str(),
                     s.operation, std::strerror(s.error));
        return 1;
    }
    std::printf("%s\n", PublicKeyHex(key).c_str());
    return 0;
}

int Sign(const std::vector<std::string>& args) {
    if (args.size() < 3 || args[0] != "--key") return Usage("sign needs --key KEYFILE FILE...");
    SecretKey secret;
    PublicKey key;
    if (!LoadSecretKey(args[1], secret, key)) return 1;
    for (size_t i = 2; i < args.size(); ++i) {
        std::string gbk, data;
        if (!cli::PathToGbk(args[i], gbk)) return 2;
        if (!platform::ReadWholeFile(gbk, data)) {
            std::fprintf(stderr, "qgpatch: sign: cannot read %s\n", args[i].c_str());
            return 1;
        }
        if (!WriteSignatureFile(args[i], data, secret)) return 1;
        std::printf("%s%s\n", args[i].c_str(), kSignatureSuffix);
    }
    return 0;
}

}  // namespace

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

bool WriteSignatureFile(const std::string& path, const std::string& data, const SecretKey& secret) {
    std::string gbk;
    if (!cli::PathToGbk(path + kSignatureSuffix, gbk)) return false;
    if (!platform::WriteFileReplacing(gbk, SignatureFileText(SignMessage(data, secret)))) {
        std::fprintf(stderr, "qgpatch: cannot write %s%s\n", path.c_str(), kSignatureSuffix);
        return false;
    }
    return true;
}

bool IsSigningCommand(const std::string& command) {
    return command == "keygen" || command == "sign";
}

int RunSigningCommand(const std::string& command, const std::vector<std::string>& args) {
    return command == "keygen" ? KeyGen(args) : Sign(args);
}

}  // namespace qgpatch
