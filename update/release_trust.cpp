#include "update/release_trust.h"

#include "platform/file_system.h"
#include "platform/text_file.h"

std::string SignatureUrl(const std::string& url) {
    const size_t query = url.find_first_of("?#");
    if (query == std::string::npos) return url + kSignatureSuffix;
    return url.substr(0, query) + kSignatureSuffix + url.substr(query);
}

namespace {

// A ".sig" text cut into its signature line and what follows it (the serial line of a
// role that has one), each without its line end.
struct SignatureLines {
    std::string_view signature;
    std::optional<std::string_view> serial;
};

std::string_view WithoutLineEnd(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

SignatureLines SplitSignatureText(std::string_view text) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos || end + 1 == text.size()) return {WithoutLineEnd(text), {}};
    return {WithoutLineEnd(text.substr(0, end + 1)), WithoutLineEnd(text.substr(end + 1))};
}

}  // namespace

std::string_view SignedContext(SignedRole role) {
    switch (role) {
        case SignedRole::PatchInfo:
            return "quillgate patchinfo\n";
        case SignedRole::ServerList:
            return "quillgate server list\n";
        case SignedRole::RepairList:
            return "quillgate repair list\n";
    }
    return {};
}

bool SignedRoleHasSerial(SignedRole role) { return role == SignedRole::ServerList; }

std::string SignedBytes(SignedRole role, std::string_view data, uint64_t serial) {
    std::string bytes(SignedContext(role));
    if (SignedRoleHasSerial(role)) bytes += std::to_string(serial) + "\n";
    bytes.append(data);
    return bytes;
}

std::string SignatureFileFor(SignedRole role, std::string_view data, const SecretKey& secret,
                             uint64_t serial) {
    std::string text = SignatureFileText(SignMessage(SignedBytes(role, data, serial), secret));
    if (SignedRoleHasSerial(role)) text += std::to_string(serial) + "\n";
    return text;
}

std::optional<uint64_t> SignatureTextSerial(std::string_view signatureText) {
    const SignatureLines lines = SplitSignatureText(signatureText);
    return lines.serial ? ParseDecimal(*lines.serial) : std::nullopt;
}

bool SignatureTextVerifies(SignedRole role, std::string_view data, std::string_view signatureText,
                           const PublicKey& key, uint64_t* serial) {
    const SignatureLines lines = SplitSignatureText(signatureText);
    Signature signature;
    if (!ParseSignatureFile(lines.signature, signature)) return false;
    // A serial where the role has none, or none where it has one, is another role's file.
    if (lines.serial.has_value() != SignedRoleHasSerial(role)) return false;
    uint64_t value = 0;
    if (lines.serial) {
        const std::optional<uint64_t> parsed = ParseDecimal(*lines.serial);
        if (!parsed) return false;
        value = *parsed;
    }
    if (!VerifySignature(SignedBytes(role, data, value), signature, key)) return false;
    if (serial != nullptr) *serial = value;
    return true;
}

bool SignatureFileVerifies(SignedRole role, std::string_view data, std::string_view signaturePath,
                           const PublicKey& key, uint64_t* serial) {
    std::string text;
    return platform::ReadWholeFile(signaturePath, text) &&
           SignatureTextVerifies(role, data, text, key, serial);
}

uint64_t ReadSeenSerial(const char* file) {
    std::string text;
    if (!platform::ReadWholeFile(file, text)) return 0;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return ParseDecimal(text).value_or(0);
}

bool StoreSeenSerial(uint64_t serial, const char* file) {
    return static_cast<bool>(platform::WriteFileReplacing(file, std::to_string(serial) + "\r\n"));
}

bool MatchesPublished(const PublishedFile& published, uint64_t size, const Sha256Digest& digest) {
    return published.complete() && *published.size == size && *published.sha256 == digest;
}
