#include "axp/compress_lzma.h"

#include <lzma.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

#include "axp/compress_lzo.h"  // ApplyWordMask
#include "axp/error.h"
#include "axp/format.h"
#include "lzma_stream.h"
#include "platform/file.h"

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

namespace {

// The fields of a block header (after unmasking), checked as DecodeBlock checks them.
struct BlockHeader {
    bool x86 = false;
    uint32_t dictionary = 0;
    uint32_t size = 0;
    lzma_options_lzma options{};
};

// Error 19 for a header the decoder must refuse; `options` is ready for a decoder that
// never allocates a dictionary larger than the block's size.
bool ParseBlockHeader(const uint8_t* header, BlockHeader& h) {
    const uint8_t filterFlag = header[0];
    const uint8_t propsByte = header[1];
    h.dictionary = LoadU32(header + 2);
    h.size = LoadU32(header + 6);
    if (LoadU32(header + 10) != 0) {
        SetLastError(kErrCodec, "LZMA decompress[%d]", kBadSize);
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
    if (h.dictionary > kLzmaDictionarySize) {
        SetLastError(kErrCodec, "LZMA decompress[%d]", kDictionaryTooLarge);
        return false;
    }
    h.x86 = filterFlag == 1;
    std::memset(&h.options, 0, sizeof(h.options));
    // Matches never reach before the start of the output, so a dictionary of the output's
    // size decodes everything; never allocate more than that.
    h.options.dict_size = std::max(kMinDictionary, std::min(h.dictionary, h.size));
    h.options.lc = lc;
    h.options.lp = lp;
    h.options.pb = pb;
    h.options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    h.options.ext_size_low = h.size;
    h.options.ext_size_high = 0;
    return true;
}

// The decoder's filter chain for a header; `filters` has room for 3.
void FilterChain(BlockHeader& h, lzma_filter* filters) {
    int n = 0;
    if (h.x86) filters[n++] = lzma_filter{LZMA_FILTER_X86, nullptr};
    filters[n++] = lzma_filter{LZMA_FILTER_LZMA1EXT, &h.options};
    filters[n] = lzma_filter{LZMA_VLI_UNKNOWN, nullptr};
}

// Byte i of a chunk that starts at `position` of the block takes mask byte
// (position + i) mod 4: the mask turned by the start's phase (size at most a chunk).
void UnmaskAt(uint8_t* data, size_t size, uint64_t position) {
    ApplyWordMask(data, static_cast<uint32_t>(size),
                  std::rotr(kLzmaWordMask, static_cast<int>(8 * (position & 3))));
}

}  // namespace

bool Compress_LZMA::DecodeBlock(uint8_t* input, uint32_t length, uint8_t* out, uint32_t capacity,
                                uint32_t& decodedLength) const {
    if (length < kLzmaHeaderSize) {
        SetLastError(kErrCodec, "LZMA decompress[%d]", kHeaderTooShort);
        return false;
    }
    ApplyWordMask(input, length, kLzmaWordMask);
    BlockHeader h;
    if (LoadU32(input + 10) == 0 && LoadU32(input + 6) > capacity) {
        SetLastError(kErrNoMemory, "LZMA decompress=%d", static_cast<int>(LoadU32(input + 6)));
        return false;
    }
    if (!ParseBlockHeader(input, h)) return false;
    if (h.size == 0) return true;

    lzma_filter filters[3];
    FilterChain(h, filters);
    size_t inPos = 0, outPos = 0;
    lzma_ret rc = lzma_raw_buffer_decode(filters, nullptr, input + kLzmaHeaderSize, &inPos,
                                         length - kLzmaHeaderSize, out, &outPos, h.size);
    if (rc != LZMA_OK || outPos != h.size) {
        SetLastError(kErrCodec, "LZMA decompress[%d]",
                     static_cast<int>(rc == LZMA_OK ? LZMA_DATA_ERROR : rc));
        return false;
    }
    decodedLength = h.size;
    return true;
}

bool DecodeLzmaBlockStream(platform::IFile& in, uint64_t offset, uint32_t length,
                           uint32_t expectedSize, const LzmaChunkSink& sink) {
    uint8_t header[kLzmaHeaderSize];
    if (length < kLzmaHeaderSize) {
        SetLastError(kErrCodec, "LZMA decompress[%d]", kHeaderTooShort);
        return false;
    }
    if (int e = platform::ReadExactAt(in, offset, header, sizeof(header))) {
        SetLastError(kErrRead, "errno=%d", e < 0 ? 0 : e);
        return false;
    }
    UnmaskAt(header, sizeof(header), 0);
    BlockHeader h;
    if (!ParseBlockHeader(header, h)) return false;
    if (h.size != expectedSize) {
        SetLastError(kErrCorrupt, "LZMA size %u, expected %u", h.size, expectedSize);
        return false;
    }
    // What the data cannot hold is refused before a byte is written (see
    // GetMaxDecompressedSize).
    if (h.size > Compress_LZMA().GetMaxDecompressedSize(length - kLzmaHeaderSize)) {
        SetLastError(kErrCorrupt, "LZMA size %u from %u bytes", h.size, length);
        return false;
    }
    if (h.size == 0) return true;
    lzma_filter filters[3];
    FilterChain(h, filters);
    lzma_stream strm = LZMA_STREAM_INIT;
    lzma_ret rc = lzma_raw_decoder(&strm, filters);
    struct End {
        lzma_stream* s;
        ~End() { lzma_end(s); }
    } end{&strm};
    if (rc != LZMA_OK) {
        SetLastError(kErrCodec, "LZMA decompress[%d]", static_cast<int>(rc));
        return false;
    }
    constexpr size_t kChunk = 1 << 16;
    std::unique_ptr<uint8_t[]> inBuf(new (std::nothrow) uint8_t[kChunk]);
    std::unique_ptr<uint8_t[]> outBuf(new (std::nothrow) uint8_t[kChunk]);
    if (!inBuf || !outBuf) {
        SetLastError(kErrNoMemory, "size=%d", static_cast<int>(kChunk));
        return false;
    }
    uint64_t consumed = kLzmaHeaderSize;  // block position of the next input byte
    uint64_t produced = 0;
    strm.next_out = outBuf.get();
    strm.avail_out = kChunk;
    for (;;) {
        if (strm.avail_in == 0 && consumed < length) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, length - consumed));
            if (int e = platform::ReadExactAt(in, offset + consumed, inBuf.get(), want)) {
                SetLastError(kErrRead, "errno=%d", e < 0 ? 0 : e);
                return false;
            }
            UnmaskAt(inBuf.get(), want, consumed);
            consumed += want;
            strm.next_in = inBuf.get();
            strm.avail_in = want;
        }
        const bool last = strm.avail_in == 0 && consumed >= length;
        rc = lzma_code(&strm, last ? LZMA_FINISH : LZMA_RUN);
        const size_t ready = kChunk - strm.avail_out;
        if (ready > 0 && (strm.avail_out == 0 || rc == LZMA_STREAM_END)) {
            if (produced + ready > h.size) break;  // the decoder stops at the size; never trusted
            if (!sink(produced, outBuf.get(), ready)) return false;
            produced += ready;
            strm.next_out = outBuf.get();
            strm.avail_out = kChunk;
        }
        if (rc != LZMA_OK) break;
    }
    if (rc != LZMA_STREAM_END || produced != h.size) {
        SetLastError(
            kErrCodec, "LZMA decompress[%d]",
            static_cast<int>(rc == LZMA_OK || rc == LZMA_STREAM_END ? LZMA_DATA_ERROR : rc));
        return false;
    }
    return true;
}

}  // namespace AXP
