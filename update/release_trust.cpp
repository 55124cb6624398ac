#include "update/release_trust.h"

#include "platform/file_system.h"
#include "platform/text_file.h"

std::string SignatureUrl(const std::string& url) {
    const size_t query = url.find_first_of("?#");
    if (query == std::string::npos) return url + kSignatureSuffix;
    return url.substr(0, query) + kSignatureSuffix + url.substr(query);
}

bool SignatureFileVerifies(std::string_view data, std::string_view signaturePath,
                           const PublicKey& key) {
    std::string text;
    Signature signature;
    return platform::ReadWholeFile(signaturePath, text) && ParseSignatureFile(text, signature) &&
           VerifySignature(data, signature, key);
}

uint64_t ReadSeenSerial() {
    std::string text;
    if (!platform::ReadWholeFile(kSeenSerialFile, text)) return 0;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return ParseDecimal(text).value_or(0);
}

bool StoreSeenSerial(uint64_t serial) {
    return static_cast<bool>(
        platform::WriteFileReplacing(kSeenSerialFile, std::to_string(serial) + "\r\n"));
}

bool MatchesPublished(const PublishedFile& published, uint64_t size, const Sha256Digest& digest) {
    return published.complete() && *published.size == size && *published.sha256 == digest;
}
