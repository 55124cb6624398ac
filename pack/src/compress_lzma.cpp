#include "axp/compress_lzma.h"

#include <lzma.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "axp/compress_lzo.h"  // ApplyWordMask
#include "axp/error.h"
#include "axp/format.h"

namespace AXP {
namespace {

// Our own result numbers for header faults ("LZMA decompress[%d]"), beside lzma_ret values.
constexpr int kHeaderTooShort = 100;
constexpr int kBadSize = 101;
constexpr int kBadFilterFlag = 102;
constexpr int kBadProperties = 103;
constexpr int kDictionaryTooLarge = 104;

constexpr uint32_t kMinDictionary = 4096;  // LZMA_DICT_SIZE_MIN

// Encodes `size` bytes of `in` into out[0..capacity) as a raw LZMA1 stream; false when it
// does not fit or liblzma fails (rc set).
bool EncodeRaw(const uint8_t* in, size_t size, bool x86, uint8_t* out, size_t capacity,
               size_t& outSize, lzma_ret& rc, uint8_t& propsByte) {
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, 6)) {
        rc = LZMA_OPTIONS_ERROR;
        return false;
    }
    // The properties name 8 MiB (kLzmaDictionary); a dictionary larger than the input
    // finds nothing more, so the encoder's own is cut to the input size to save memory.
    options.dict_size =
        static_cast<uint32_t>(std::clamp<size_t>(size, kMinDictionary, kLzmaDictionarySize));
    propsByte = static_cast<uint8_t>((options.pb * 5 + options.lp) * 9 + options.lc);
    lzma_filter filters[3];
    int n = 0;
    if (x86) filters[n++] = lzma_filter{LZMA_FILTER_X86, nullptr};
    filters[n++] = lzma_filter{LZMA_FILTER_LZMA1, &options};
    filters[n] = lzma_filter{LZMA_VLI_UNKNOWN, nullptr};
    outSize = 0;
    rc = lzma_raw_buffer_encode(filters, nullptr, in, size, out, &outSize, capacity);
    return rc == LZMA_OK;
}

}  // namespace

uint32_t Compress_LZMA::GetMaxCompressedSize(uint32_t size) const {
    uint64_t partBound = static_cast<uint64_t>(static_cast<double>(size) * 1.02);
    uint64_t safeBound = uint64_t{size} + size / 16 + 128;
    uint64_t n = std::max(partBound, safeBound);
    n = (n + 3) & ~uint64_t{3};
    return n > 0xFFFFFFFFull ? 0xFFFFFFFCu : static_cast<uint32_t>(n);
}

bool Compress_LZMA::Compress(uint8_t* buffer, uint32_t capacity, uint32_t& length) const {
    const uint32_t needed = GetMaxCompressedSize(length);
    if (needed > capacity || buffer == nullptr) {
        SetLastError(kErrNoMemory, "LZMA compress=%d", static_cast<int>(needed));
        return false;
    }
    const size_t room = needed - kLzmaHeaderSize;
    std::unique_ptr<uint8_t[]> plain(new (std::nothrow) uint8_t[needed]);
    std::unique_ptr<uint8_t[]> filtered(new (std::nothrow) uint8_t[needed]);
    if (!plain || !filtered) {
        SetLastError(kErrNoMemory, "LZMA compress=%d", static_cast<int>(needed));
        return false;
    }
    size_t plainSize = 0, filteredSize = 0;
    lzma_ret rcPlain = LZMA_OK, rcFiltered = LZMA_OK;
    uint8_t props = 0;
    bool okPlain = EncodeRaw(buffer, length, false, plain.get() + kLzmaHeaderSize, room, plainSize,
                             rcPlain, props);
    bool okFiltered = EncodeRaw(buffer, length, true, filtered.get() + kLzmaHeaderSize, room,
                                filteredSize, rcFiltered, props);
    if (!okPlain && !okFiltered) {
        SetLastError(kErrCodec, "LZMA compress[%d]", static_cast<int>(rcPlain));
        return false;
    }
    const bool useFilter = okFiltered && (!okPlain || filteredSize < plainSize);
    uint8_t* out = useFilter ? filtered.get() : plain.get();
    const size_t streamSize = useFilter ? filteredSize : plainSize;
    out[0] = useFilter ? 1 : 0;
    out[1] = props;
    StoreU32(out + 2, kLzmaDictionarySize);
    StoreU32(out + 6, length);
    StoreU32(out + 10, 0);
    const uint32_t total = static_cast<uint32_t>(kLzmaHeaderSize + streamSize);
    ApplyWordMask(out, total, kLzmaWordMask);
    std::memcpy(buffer, out, total);
    length = total;
    return true;
}

bool Compress_LZMA::DecodeBlock(uint8_t* buffer, uint32_t capacity, uint32_t length,
                                uint32_t& decodedLength) const {
    if (length < kLzmaHeaderSize) {
        SetLastError(kErrCodec, "LZMA decompress[%d]", kHeaderTooShort);
        return false;
    }
    ApplyWordMask(buffer, length, kLzmaWordMask);
    const uint8_t filterFlag = buffer[0];
    const uint8_t propsByte = buffer[1];
    const uint32_t dictionary = LoadU32(buffer + 2);
    const uint32_t size = LoadU32(buffer + 6);
    if (LoadU32(buffer + 10) != 0) {
        SetLastError(kErrCodec, "LZMA decompress[%d]", kBadSize);
        return false;
    }
    if (size > capacity) {
        SetLastError(kErrNoMemory, "LZMA decompress=%d", static_cast<int>(size));
        return false;
    }
    if (filterFlag > 1) {
        SetLastError(kErrCodec, "LZMA decompress[%d]", kBadFilterFlag);
        return false;
    }
    const uint32_t lc = propsByte % 9, lp = (propsByte / 9) % 5, pb = propsByte / 45;
    if (propsByte >= 9 * 5 * 5 || lc + lp > LZMA_LCLP_MAX || pb > LZMA_PB_MAX) {
        SetLastError(kErrCodec, "LZMA decompress[%d]", kBadProperties);
        return false;
    }
    if (dictionary > kLzmaDictionarySize) {
        SetLastError(kErrCodec, "LZMA decompress[%d]", kDictionaryTooLarge);
        return false;
    }
    if (size == 0) return true;

    const uint32_t inSize = length - kLzmaHeaderSize;
    std::unique_ptr<uint8_t[]> input(new (std::nothrow) uint8_t[inSize + 1]);
    if (!input) {
        SetLastError(kErrNoMemory, "size=%d", static_cast<int>(inSize));
        return false;
    }
    std::memcpy(input.get(), buffer + kLzmaHeaderSize, inSize);

    lzma_options_lzma options;
    std::memset(&options, 0, sizeof(options));
    // Matches never reach before the start of the output, so a dictionary of the output's
    // size decodes everything; never allocate more than that.
    options.dict_size = std::max(kMinDictionary, std::min(dictionary, size));
    options.lc = lc;
    options.lp = lp;
    options.pb = pb;
    options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    options.ext_size_low = size;
    options.ext_size_high = 0;
    lzma_filter filters[3];
    int n = 0;
    if (filterFlag == 1) filters[n++] = lzma_filter{LZMA_FILTER_X86, nullptr};
    filters[n++] = lzma_filter{LZMA_FILTER_LZMA1EXT, &options};
    filters[n] = lzma_filter{LZMA_VLI_UNKNOWN, nullptr};
    size_t inPos = 0, outPos = 0;
    lzma_ret rc = lzma_raw_buffer_decode(filters, nullptr, input.get(), &inPos, inSize, buffer,
                                         &outPos, size);
    if (rc != LZMA_OK || outPos != size) {
        SetLastError(kErrCodec, "LZMA decompress[%d]",
                     static_cast<int>(rc == LZMA_OK ? LZMA_DATA_ERROR : rc));
        return false;
    }
    decodedLength = size;
    return true;
}

}  // namespace AXP
