// qgpatch commands of a signed site: the operator's key and detached signatures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"
#include "update/release_trust.h"

struct SecretKey;
struct PublicKey;

namespace qgpatch {

int RunKeygen(const CommandLine& line);
int RunSign(const CommandLine& line);

// Reads the secret key file at `path` (UTF-8); on failure says why on stderr.
bool LoadSecretKey(const std::string& path, SecretKey& secret, PublicKey& key);
// Writes `path`.sig beside `path`: the signature of `data` in `role` (with `serial` for a
// role that carries one); on failure says why on stderr.
bool WriteSignatureFile(const std::string& path, SignedRole role, const std::string& data,
                        const SecretKey& secret, uint64_t serial = 0);
// The serial of a newly signed file: `serialText` (the value of --serial; empty: the time
// of publishing), always above `previous`, the serial of what `replaced` holds now, since
// launchers that saw that one refuse anything below it. False (said on stderr, or a usage
// error in `exitCode`) when a given serial is not a number or not above `previous`.
bool ChooseSerial(const std::string& command, const std::string& serialText, uint64_t previous,
                  const std::string& replaced, uint64_t& serial, int& exitCode);

extern const char kKeygenHelp[];
extern const char kSignHelp[];

}  // namespace qgpatch
