// Patch packages: zip archives stored in one of four byte forms, told apart by their
// first bytes (DetectPackageForm), and the checksum trailer of downloaded packages.
//
//   1 plain      an ordinary zip ("PK" first)
//   2 inverted   every byte of a zip complemented (XOR 0xFF)
//   3 scrambled  the byte at position p of a zip XORed with k(p) (axp/xor_key.h)
//   4 sealed     "JZQ1", u32 LE decoded size, the inverted zip compressed with the LZMA
//                codec (type 3), u32 LE CRC (axp/crc.h) of all bytes before it
//
// The launcher accepts scrambled and sealed packages (axp/updater.h).
// Failure: false results plus the library's last error (axp/error.h).
// The format, field by field: docs/formats/patch-package.md
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace AXP {

enum class PackageForm : uint32_t {
    kNone = 0,
    kPlain = 1,
    kInverted = 2,
    kScrambled = 3,
    kSealed = 4
};

inline constexpr char kSealedMagic[4] = {'J', 'Z', 'Q', '1'};
inline constexpr uint32_t kSealedHeaderSize = 8;
inline constexpr uint32_t kTrailerSize = 4;

// The form of a package from its first `size` bytes (up to 8 are looked at). Fewer than 5
// bytes are of no form. The tests run in the order plain, scrambled, sealed, inverted;
// the first that holds decides.
PackageForm DetectPackageForm(const void* firstBytes, size_t size);
// The same for a file; kNone when it cannot be read.
PackageForm DetectPackageFormOfFile(std::string_view path);
const char* PackageFormName(PackageForm form);

// Reads the last 4 bytes of a file as a u32 LE into `stored` and computes the CRC of the
// bytes before them into `computed`. False when the file cannot be read or is shorter
// than 4 bytes.
bool ReadPackageTrailer(std::string_view path, uint32_t& stored, uint32_t& computed);

// Writes `source` (a plain zip) to `destination` in the scrambled form with the checksum
// trailer appended, so that a downloaded copy can be verified like a sealed package.
// `destination` is written beside itself and renamed into place.
bool ScramblePackageFile(std::string_view source, std::string_view destination);

}  // namespace AXP
