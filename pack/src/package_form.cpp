#include "axp/package_form.h"

#include <cstring>
#include <memory>

#include "axp/error.h"
#include "axp/xor_key.h"
#include "file_crc.h"
#include "pack_io.h"
#include "platform/file.h"

namespace AXP {

PackageForm DetectPackageForm(const void* firstBytes, size_t size) {
    if (firstBytes == nullptr || size < 5) return PackageForm::kNone;
    const auto* b = static_cast<const uint8_t*>(firstBytes);
    if (b[0] == 'P' && b[1] == 'K') return PackageForm::kPlain;
    if ((b[0] ^ XorKeyByte(0)) == 'P' && (b[1] ^ XorKeyByte(1)) == 'K') {
        return PackageForm::kScrambled;
    }
    if (std::memcmp(b, kSealedMagic, sizeof(kSealedMagic)) == 0) return PackageForm::kSealed;
    if (static_cast<uint8_t>(~b[0]) == 'P' && static_cast<uint8_t>(~b[1]) == 'K') {
        return PackageForm::kInverted;
    }
    return PackageForm::kNone;
}

PackageForm DetectPackageFormOfFile(std::string_view path) {
    std::unique_ptr<platform::IFile> file;
    if (path.empty() || platform::PosixFileSystem().Open(
                            ToNativePath(path), platform::FileOpenMode::kRead, file) != 0) {
        return PackageForm::kNone;
    }
    uint8_t first[8];
    size_t got = 0;
    if (file->ReadAt(0, first, sizeof(first), got) != 0) return PackageForm::kNone;
    return DetectPackageForm(first, got);
}

const char* PackageFormName(PackageForm form) {
    switch (form) {
        case PackageForm::kPlain:
            return "plain";
        case PackageForm::kInverted:
            return "inverted";
        case PackageForm::kScrambled:
            return "scrambled";
        case PackageForm::kSealed:
            return "sealed";
        case PackageForm::kNone:
            break;
    }
    return "none";
}

bool ReadPackageTrailer(std::string_view path, uint32_t& stored, uint32_t& computed) {
    stored = 0;
    int error = 0;
    if (CrcOfFile(path, true, computed, error, &stored)) return true;
    if (error < 0) {
        SetLastError(kErrCorrupt, "File=%.*s(shorter than its trailer)",
                     static_cast<int>(path.size()), path.data());
    } else {
        SetLastError(kErrRead, "errno=%d", error);
    }
    return false;
}

bool ScramblePackageFile(std::string_view source, std::string_view destination) {
    return TransformFile(
        source, std::string(destination) + ".part", destination,
        [](uint8_t* data, size_t size, uint64_t position) { XorWithKey(data, size, position); },
        true);
}

}  // namespace AXP
