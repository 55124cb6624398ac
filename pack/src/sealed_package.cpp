#include "sealed_package.h"

#include <errno.h>

#include <memory>
#include <string>
#include <vector>

#include "axp/compress_lzma.h"
#include "axp/error.h"
#include "axp/format.h"
#include "axp/package_form.h"
#include "lzma_stream.h"
#include "pack_io.h"
#include "platform/directory_tree.h"
#include "platform/file.h"
#include "platform/file_system.h"

namespace AXP {

namespace {

std::string DirectoryOf(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string_view::npos) return ".";
    return std::string(path.substr(0, slash == 0 ? 1 : slash));
}

bool NotSealed(std::string_view path, const char* why) {
    SetLastError(kErrCorrupt, "File=%.*s(%s)", static_cast<int>(path.size()), path.data(), why);
    return false;
}

}  // namespace

bool DecodeSealedPackage(std::string_view source, std::string_view destination, bool complement) {
    platform::IFileSystem& fs = platform::PosixFileSystem();
    std::unique_ptr<platform::IFile> in;
    uint64_t size = 0;
    if (int e = fs.Open(ToNativePath(source), platform::FileOpenMode::kRead, in)) {
        SetLastError(kErrRead, "File=%.*s, errno=%d", static_cast<int>(source.size()),
                     source.data(), e);
        return false;
    }
    if (int e = in->GetSize(size)) {
        SetLastError(kErrRead, "errno=%d", e);
        return false;
    }
    uint8_t header[kSealedHeaderSize];
    if (size < uint64_t{kSealedHeaderSize} + kTrailerSize ||
        size - kSealedHeaderSize - kTrailerSize > 0xFFFFFFFFull ||
        platform::ReadExactAt(*in, 0, header, sizeof(header)) != 0 ||
        DetectPackageForm(header, sizeof(header)) != PackageForm::kSealed) {
        return NotSealed(source, "not a sealed package");
    }
    const uint32_t declared = LoadU32(header + 4);
    const auto body = static_cast<uint32_t>(size - kSealedHeaderSize - kTrailerSize);
    // A size the data cannot hold is refused before anything is written: a few hundred
    // bytes must not cost gigabytes of disk.
    if (body < kLzmaHeaderSize ||
        declared > Compress_LZMA().GetMaxDecompressedSize(body - kLzmaHeaderSize)) {
        return NotSealed(source, "decoded size larger than its data can hold");
    }
    const std::string directory = DirectoryOf(destination);
    uint64_t available = 0;
    if (platform::AvailableDiskSpace(directory, available).ok() && available < declared) {
        SetLastError(kErrNoSpace, "File=%.*s, disk full: %u bytes needed, %llu free (errno=%d)",
                     static_cast<int>(destination.size()), destination.data(), declared,
                     static_cast<unsigned long long>(available), ENOSPC);
        return false;
    }

    PartFile out(platform::PosixFileSystem(), std::string(destination));
    if (!out.Open()) return false;
    std::vector<uint8_t> flipped;
    auto write = [&](uint64_t offset, const uint8_t* data, size_t n) {
        if (complement) {
            flipped.assign(data, data + n);
            for (uint8_t& b : flipped) b = static_cast<uint8_t>(~b);
            data = flipped.data();
        }
        return out.Write(offset, data, n);
    };
    if (!DecodeLzmaBlockStream(*in, kSealedHeaderSize, body, declared, write)) return false;
    in.reset();
    return out.Commit(false);
}

}  // namespace AXP
