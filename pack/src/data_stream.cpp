#include "axp/data_stream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "axp/block_codec.h"
#include "axp/compress.h"
#include "axp/crc.h"
#include "axp/error.h"
#include "axp/pack_file.h"
#include "platform/file.h"

namespace AXP {
namespace {

constexpr uint32_t kLineChunk = 1023;

}  // namespace

DataStream::DataStream(PackFile* pack, const ICompress* codec, platform::IFile* file,
                       uint64_t dataOffset, uint32_t storedSize, uint32_t unpackedSize)
    : pack_(pack),
      codec_(codec),
      file_(file),
      dataOffset_(dataOffset),
      storedSize_(storedSize),
      unpackedSize_(unpackedSize) {}

DataStream::~DataStream() = default;

bool DataStream::NeedsPreload() const {
    return unpackedSize_ < kPreloadLimit || (codec_ != nullptr && !codec_->CanStream());
}

bool DataStream::Preload() {
    const uint64_t capacity64 = uint64_t{std::max(storedSize_, unpackedSize_)} + 4;
    if (capacity64 > 0xFFFFFFFFull) {
        SetLastError(kErrNoMemory, "size=%d", -1);
        return false;
    }
    const uint32_t capacity = static_cast<uint32_t>(capacity64);
    preload_.reset(new (std::nothrow) uint8_t[capacity]);
    if (!preload_) {
        SetLastError(kErrNoMemory, "size=%d", static_cast<int>(capacity));
        return false;
    }
    if (int e = platform::ReadExactAt(*file_, dataOffset_, preload_.get(), storedSize_)) {
        SetLastError(kErrRead, "errno=%d", e < 0 ? 0 : e);
        preload_.reset();
        return false;
    }
    if (codec_ != nullptr) {
        uint32_t decoded = 0;
        if (!codec_->DecompressEx(preload_.get(), capacity, storedSize_, decoded)) {
            preload_.reset();
            return false;
        }
        // Sound behaviour: the decoded length must be the entry's unpacked size, so that no
        // byte of the buffer is handed out undecoded.
        if (decoded != unpackedSize_ && !codec_->CanStream()) {
            SetLastError(kErrCorrupt);
            preload_.reset();
            return false;
        }
    }
    return true;
}

bool DataStream::ReadWhole(uint8_t* out) {
    if (codec_ != nullptr && !codec_->CanStream()) {
        const auto* block = dynamic_cast<const BlockCodec*>(codec_);
        if (block != nullptr && DecodeStraight(*block, out)) {
            position_ = unpackedSize_;
            return true;
        }
        // A fault, or a codec that decodes only in place: the preloading read, which reports
        // every fault exactly as an opened stream does, runs on the rare failure alone.
        if (!Preload()) return false;
    }
    if (!ReadAt(0, out, unpackedSize_)) return false;
    position_ = unpackedSize_;
    return true;
}

bool DataStream::DecodeStraight(const BlockCodec& codec, uint8_t* out) {
    std::unique_ptr<uint8_t[]> stored(new (std::nothrow) uint8_t[storedSize_]);
    if (!stored) return false;
    if (platform::ReadExactAt(*file_, dataOffset_, stored.get(), storedSize_) != 0) return false;
    uint32_t decoded = 0;
    return codec.DecodeInto(stored.get(), storedSize_, out, unpackedSize_, decoded) &&
           decoded == unpackedSize_;
}

bool DataStream::ReadAt(uint32_t position, uint8_t* out, uint32_t n) {
    if (preload_) {
        std::memcpy(out, preload_.get() + position, n);
        return true;
    }
    if (file_ == nullptr) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    // Only same-length entries get here, and unpacked size <= stored size holds for them
    // (checked at OpenFile), so the read stays inside the stored bytes.
    if (int e = platform::ReadExactAt(*file_, dataOffset_ + position, out, n)) {
        SetLastError(kErrRead, "errno=%d", e < 0 ? 0 : e);
        return false;
    }
    if (codec_ != nullptr && !codec_->Decompress(out, n, n, position)) return false;
    return true;
}

uint32_t DataStream::Read(void* buffer, uint32_t count) {
    if (buffer == nullptr || count == 0 || position_ >= unpackedSize_) return 0;
    const uint32_t n = std::min(count, unpackedSize_ - position_);
    if (!ReadAt(position_, static_cast<uint8_t*>(buffer), n)) return 0;
    position_ += n;
    return n;
}

uint32_t DataStream::ReadLine(char* buffer, uint32_t capacity) {
    const uint32_t limit = capacity == 0 ? 0 : capacity - 1;
    uint32_t length = 0;
    bool lastWasCr = false;
    uint8_t chunk[kLineChunk];
    while (length < limit && position_ < unpackedSize_) {
        const uint32_t n = std::min({kLineChunk, unpackedSize_ - position_, limit - length});
        if (!ReadAt(position_, chunk, n)) break;
        const auto* lf = static_cast<const uint8_t*>(std::memchr(chunk, '\n', n));
        const uint32_t take = lf ? static_cast<uint32_t>(lf - chunk) : n;
        if (buffer) std::memcpy(buffer + length, chunk, take);
        if (take > 0) lastWasCr = chunk[take - 1] == '\r';
        length += take;
        if (lf) {
            position_ += take + 1;
            if (lastWasCr) --length;  // CR directly before the LF
            break;
        }
        position_ += take;
    }
    if (buffer && capacity > 0) buffer[length] = '\0';
    return length;
}

void DataStream::SkipLine() {
    uint8_t chunk[kLineChunk];
    while (position_ < unpackedSize_) {
        const uint32_t n = std::min(kLineChunk, unpackedSize_ - position_);
        if (!ReadAt(position_, chunk, n)) return;
        const auto* lf = static_cast<const uint8_t*>(std::memchr(chunk, '\n', n));
        if (lf) {
            position_ += static_cast<uint32_t>(lf - chunk) + 1;
            return;
        }
        position_ += n;
    }
}

uint32_t DataStream::Seek(uint32_t position) {
    position_ = position;
    return position_;
}

uint32_t DataStream::GetCrc() {
    if (crcValid_) return crc_;
    uint32_t state = kCrcInit;
    if (preload_) {
        state = CrcUpdate(state, preload_.get(), unpackedSize_);
    } else {
        constexpr uint32_t kChunk = 65536;
        std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[kChunk]);
        if (!chunk) {
            SetLastError(kErrNoMemory, "size=%d", static_cast<int>(kChunk));
            return 0xFFFFFFFFu;
        }
        for (uint32_t pos = 0; pos < unpackedSize_;) {
            const uint32_t n = std::min(kChunk, unpackedSize_ - pos);
            if (!ReadAt(pos, chunk.get(), n)) return 0xFFFFFFFFu;
            state = CrcUpdate(state, chunk.get(), n);
            pos += n;
        }
    }
    crc_ = CrcFinal(state);
    crcValid_ = true;
    return crc_;
}

void DataStream::Release() {
    if (pack_ != nullptr) {
        pack_->ReleaseStream(this);  // destroys this stream
        return;
    }
    delete this;
}

void DataStream::Detach() {
    pack_ = nullptr;
    file_ = nullptr;
    storedSize_ = 0;
    unpackedSize_ = 0;
    position_ = 0;
    preload_.reset();
}

}  // namespace AXP
