#include "file_crc.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "axp/crc.h"
#include "axp/error.h"
#include "axp/format.h"
#include "pack_io.h"
#include "platform/file.h"
#include "platform/process.h"

namespace AXP {

namespace {
constexpr size_t kChunk = 1 << 16;
}

bool CrcOfFile(std::string_view path, bool skipTrailer, uint32_t& crc, int& error,
               uint32_t* trailer) {
    crc = 0xFFFFFFFFu;
    std::unique_ptr<platform::IFile> file;
    uint64_t size = 0;
    if ((error = platform::PosixFileSystem().Open(ToNativePath(path), platform::FileOpenMode::kRead,
                                                  file)) != 0 ||
        (error = file->GetSize(size)) != 0) {
        return false;
    }
    if (skipTrailer && size < 4) {
        error = -1;
        return false;
    }
    const uint64_t body = skipTrailer ? size - 4 : size;
    std::vector<uint8_t> chunk(kChunk);
    uint32_t state = kCrcInit;
    for (uint64_t pos = 0; pos < body;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk.size(), body - pos));
        if ((error = platform::ReadExactAt(*file, pos, chunk.data(), want)) != 0) return false;
        state = CrcUpdate(state, chunk.data(), want);
        pos += want;
    }
    if (skipTrailer && trailer != nullptr) {
        uint8_t tail[4];
        if ((error = platform::ReadExactAt(*file, body, tail, sizeof(tail))) != 0) return false;
        *trailer = LoadU32(tail);
    }
    crc = CrcFinal(state);
    return true;
}

bool TransformFile(std::string_view source, const std::string& temp, std::string_view destination,
                   ByteTransform transform, bool appendTrailer) {
    platform::IFileSystem& fs = platform::PosixFileSystem();
    std::unique_ptr<platform::IFile> in, out;
    if (int e = fs.Open(ToNativePath(source), platform::FileOpenMode::kRead, in)) {
        SetLastError(kErrOpen, "File=%.*s, errno=%d", static_cast<int>(source.size()),
                     source.data(), e);
        return false;
    }
    if (int e = fs.Open(ToNativePath(temp), platform::FileOpenMode::kCreateReadWrite, out)) {
        SetLastError(kErrOpen, "File=%s, errno=%d", temp.c_str(), e);
        return false;
    }
    auto fail = [&](int e) {
        out.reset();
        fs.Remove(ToNativePath(temp));
        if (IsDiskFull(e)) {
            SetWriteError(kErrWrite, destination, e);
        } else {
            SetLastError(kErrWrite, "errno=%d", e);
        }
        return false;
    };
    std::vector<uint8_t> chunk(kChunk);
    uint32_t state = kCrcInit;
    uint64_t pos = 0;
    for (;;) {
        size_t got = 0;
        if (int e = in->ReadAt(pos, chunk.data(), chunk.size(), got)) return fail(e);
        if (got == 0) break;
        transform(chunk.data(), got, pos);
        state = CrcUpdate(state, chunk.data(), got);
        if (int e = out->WriteAt(pos, chunk.data(), got)) return fail(e);
        pos += got;
    }
    if (appendTrailer) {
        uint8_t tail[4];
        const uint32_t crc = CrcFinal(state);
        for (int i = 0; i < 4; ++i) tail[i] = static_cast<uint8_t>(crc >> (8 * i));
        if (int e = out->WriteAt(pos, tail, sizeof(tail))) return fail(e);
    }
    // Flushed before the rename, so that a power cut cannot leave the destination named
    // over a file whose content never reached the disk.
    if (int e = out->Sync()) return fail(e);
    if (int e = out->Close()) return fail(e);
    out.reset();
    in.reset();
    if (int e = fs.Rename(ToNativePath(temp), ToNativePath(destination))) return fail(e);
    return true;
}

bool ComplementFileInPlace(std::string_view path) {
    // Beside the file, so that the rename never crosses file systems; the process id and
    // a counter keep two conversions of one file, in this process or another, from
    // sharing the temporary file.
    static std::atomic<uint32_t> counter{0};
    const std::string temp = std::string(path) + "." +
                             std::to_string(platform::CurrentProcessId()) + "-" +
                             std::to_string(counter++) + ".tmp";
    return TransformFile(
        path, temp, path,
        [](uint8_t* data, size_t size, uint64_t) {
            for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(~data[i]);
        },
        false);
}

}  // namespace AXP
