// qgpatch commands of a signed site: the operator's key and detached signatures.
#pragma once

#include <string>
#include <vector>

struct SecretKey;
struct PublicKey;

namespace qgpatch {

bool IsSigningCommand(const std::string& command);
int RunSigningCommand(const std::string& command, const std::vector<std::string>& args);

// Reads the secret key file at `path` (UTF-8); on failure says why on stderr.
bool LoadSecretKey(const std::string& path, SecretKey& secret, PublicKey& key);
// Writes `path`.sig beside `path` for `data`; on failure says why on stderr.
bool WriteSignatureFile(const std::string& path, const std::string& data, const SecretKey& secret);

extern const char kSigningHelp[];

}  // namespace qgpatch
