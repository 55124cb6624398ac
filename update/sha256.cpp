#include "update/sha256.h"

#include <vector>

#include "platform/file.h"
#include "platform/hex_text.h"
#include "platform/native_path.h"

bool Sha256OfFile(std::string_view gbkPath, Sha256Digest& digest, uint64_t& size) {
    std::string native;
    if (!platform::NativePath(gbkPath, native)) return false;
    std::unique_ptr<platform::IFile> file;
    if (platform::PosixFileSystem().Open(native, platform::FileOpenMode::kRead, file) != 0)
        return false;
    Sha256Stream stream;
    std::vector<char> buffer(1 << 20);
    uint64_t offset = 0;
    for (;;) {
        size_t got = 0;
        if (file->ReadAt(offset, buffer.data(), buffer.size(), got) != 0) return false;
        if (got == 0) break;
        stream.Update(buffer.data(), got);
        offset += got;
    }
    size = offset;
    digest = stream.Finish();
    return true;
}

std::string DigestHex(const Sha256Digest& digest) {
    return platform::LowerHex(digest.data(), digest.size());
}

bool ParseDigestHex(std::string_view hex, Sha256Digest& digest) {
    return platform::ParseHex(hex, digest.data(), digest.size());
}
