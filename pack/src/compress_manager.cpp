#include "compress_manager.h"

#include <cstring>
#include <memory>
#include <new>

#include "axp/compress_lzma.h"
#include "axp/compress_lzo.h"
#include "axp/compress_xor.h"
#include "axp/crc.h"
#include "axp/error.h"
#include "axp/format.h"
#include "pack_io.h"

namespace AXP {
namespace {

// The file jobs start alike: both paths and the codec are needed, then the source is
// opened and its size read, with the same error codes and texts for either job.
bool OpenSource(platform::IFileSystem& fs, const ICompress* codec, std::string_view source,
                std::string_view destination, std::unique_ptr<platform::IFile>& in,
                uint64_t& size) {
    if (codec == nullptr || source.empty() || destination.empty()) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    if (int e = fs.Open(ToNativePath(source), platform::FileOpenMode::kRead, in)) {
        SetLastError(kErrRead, "errno=%d", e);
        return false;
    }
    if (int e = in->GetSize(size)) {
        SetLastError(kErrRead, "errno=%d", e);
        return false;
    }
    return true;
}

}  // namespace

CompressManager::CompressManager() {
    static Compress_XOR xorCodec;
    static Compress_LZO lzoCodec;
    static Compress_LZMA lzmaCodec;
    codecs_ = {&xorCodec, &lzoCodec, &lzmaCodec};
}

ICompressMgr& GetCompressManager() {
    static CompressManager* manager = new CompressManager();  // lives until process exit
    return *manager;
}

bool CompressManager::Register(ICompress* codec) {
    if (codec == nullptr) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (ICompress* c : codecs_) {
        if (c->GetType() == codec->GetType()) {
            SetLastError(kErrAlreadySet, "compresType=%d", codec->GetType());
            return false;
        }
    }
    codecs_.push_back(codec);
    return true;
}

uint32_t CompressManager::GetCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<uint32_t>(codecs_.size());
}

ICompress* CompressManager::GetByIndex(uint32_t index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= codecs_.size()) {
        SetLastError(kErrInvalidArg);
        return nullptr;
    }
    return codecs_[index];
}

ICompress* CompressManager::GetByType(uint8_t type) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (ICompress* c : codecs_) {
        if (c->GetType() == type) return c;
    }
    SetLastError(kErrInvalidArg);
    return nullptr;
}

namespace {

// Output-file steps of CompressFile and DecompressFile: a failure is error 5.
// A full disk is error 12 (see SetWriteError).
void OutputFailed(std::string_view destination, int e) {
    if (IsDiskFull(e)) {
        SetWriteError(kErrWrite, destination, e);
    } else {
        SetLastError(kErrWrite, "errno=%d", e);
    }
}

// The output of CompressFile and DecompressFile, written beside the destination and
// renamed over it once flushed: the destination may be the source itself, and a failed
// or killed write must leave it as it was.
class OutputFile {
  public:
    OutputFile(platform::IFileSystem& fs, std::string_view destination)
        : fs_(fs),
          destination_(destination),
          native_(ToNativePath(destination)),
          part_(native_ + ".~part") {}
    ~OutputFile() {
        if (file_) {
            file_.reset();
            fs_.Remove(part_);
        }
    }

    bool Open() {
        if (int e = fs_.Open(part_, platform::FileOpenMode::kCreateReadWrite, file_)) {
            if (IsDiskFull(e)) {
                SetWriteError(kErrOpen, destination_, e);
            } else {
                SetLastError(kErrOpen, "errno=%d", e);
            }
            return false;
        }
        return true;
    }
    bool Write(uint64_t pos, const void* data, size_t size) {
        return Check(file_->WriteAt(pos, data, size));
    }
    bool Commit() {
        if (!Check(file_->Sync()) || !Check(file_->Close())) return false;
        file_.reset();
        if (int e = fs_.Rename(part_, native_)) {
            fs_.Remove(part_);
            return Check(e);
        }
        return true;
    }

  private:
    bool Check(int e) {
        if (e != 0) OutputFailed(destination_, e);
        return e == 0;
    }
    platform::IFileSystem& fs_;
    std::string_view destination_;
    std::string native_;
    std::string part_;
    std::unique_ptr<platform::IFile> file_;
};

}  // namespace

bool CompressManager::CompressFile(ICompress* codec, std::string_view source,
                                   std::string_view destination, uint32_t& unpackedSize,
                                   const void* header, uint32_t headerLength, bool trailer,
                                   uint32_t& compressedSize) {
    platform::IFileSystem& fs = platform::PosixFileSystem();
    std::unique_ptr<platform::IFile> in;
    uint64_t size = 0;
    if (!OpenSource(fs, codec, source, destination, in, size)) return false;
    if (size > 0xFFFFFFFFull) {
        SetLastError(kErrNoMemory, "Size=%d", -1);
        return false;
    }
    unpackedSize = static_cast<uint32_t>(size);
    const uint32_t capacity = std::max<uint32_t>(codec->GetMaxCompressedSize(unpackedSize), 1);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[capacity]);
    if (!buffer) {
        SetLastError(kErrNoMemory, "Size=%d", static_cast<int>(capacity));
        return false;
    }
    if (int e = platform::ReadExactAt(*in, 0, buffer.get(), unpackedSize)) {
        SetLastError(kErrRead, "errno=%d", e < 0 ? 0 : e);
        return false;
    }
    in.reset();
    compressedSize = unpackedSize;
    if (!codec->Compress(buffer.get(), capacity, compressedSize)) return false;

    OutputFile out(fs, destination);
    if (!out.Open()) return false;
    uint64_t pos = 0;
    uint32_t crc = kCrcInit;
    if (headerLength > 0 && header != nullptr) {
        if (!out.Write(0, header, headerLength)) return false;
        crc = CrcUpdate(crc, header, headerLength);
        pos = headerLength;
    }
    if (!out.Write(pos, buffer.get(), compressedSize)) return false;
    crc = CrcUpdate(crc, buffer.get(), compressedSize);
    pos += compressedSize;
    if (trailer) {
        uint8_t t[4];
        StoreU32(t, CrcFinal(crc));
        if (!out.Write(pos, t, 4)) return false;
    }
    return out.Commit();
}

bool CompressManager::DecompressFile(ICompress* codec, std::string_view source,
                                     std::string_view destination, uint32_t skip,
                                     uint32_t outputSize) {
    platform::IFileSystem& fs = platform::PosixFileSystem();
    std::unique_ptr<platform::IFile> in;
    uint64_t size = 0;
    if (!OpenSource(fs, codec, source, destination, in, size)) return false;
    if (size <= uint64_t{skip} + 4 || size > 0xFFFFFFFFull) {
        SetLastError(kErrCorrupt);
        return false;
    }
    const uint32_t readLength = static_cast<uint32_t>(size - skip - 4);
    // A size the data cannot hold is refused before anything is allocated for it.
    if (outputSize > codec->GetMaxDecompressedSize(readLength)) {
        SetLastError(kErrCorrupt, "Size=%u from %u bytes", outputSize, readLength);
        return false;
    }
    const uint32_t capacity = std::max(static_cast<uint32_t>(size), outputSize);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[capacity]);
    if (!buffer) {
        SetLastError(kErrNoMemory, "Size=%d", static_cast<int>(capacity));
        return false;
    }
    std::memset(buffer.get(), 0, capacity);
    if (int e = platform::ReadExactAt(*in, skip, buffer.get(), readLength)) {
        SetLastError(kErrRead, "errno=%d", e < 0 ? 0 : e);
        return false;
    }
    in.reset();
    if (!codec->Decompress(buffer.get(), capacity, readLength, 0)) return false;
    OutputFile out(fs, destination);
    if (!out.Open()) return false;
    if (!out.Write(0, buffer.get(), outputSize)) return false;
    return out.Commit();
}

}  // namespace AXP
