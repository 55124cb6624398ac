#include "engine/transfer/block_list.h"

#include <cstring>
#include <memory>

#include "platform/file_system.h"
#include "platform/hex_text.h"

namespace engine {
namespace {

constexpr char kMagic[8] = {'Q', 'G', 'B', 'L', 'O', 'C', 'K', 'S'};
constexpr uint32_t kVersion = 1;

template <typename T>
T ReadLe(const unsigned char* p) {
    T value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(p[i]) << (8 * i);
    return value;
}

template <typename T>
void AppendLe(std::string& out, T value) {
    for (size_t i = 0; i < sizeof(T); ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string HexOf(const Sha256Digest& digest) {
    return platform::LowerHex(digest.data(), digest.size());
}

bool ParseSha256Hex(std::string_view text, Sha256Digest& out) {
    return platform::ParseHex(text, out.data(), out.size());
}

int64_t BlockList::BlockBytes(int64_t index) const {
    const int64_t start = BlockStart(index);
    return std::min<int64_t>(blockSize, length - start);
}

std::optional<BlockList> ParseBlockList(std::string_view bytes) {
    if (bytes.size() < kBlockListHeadBytes || bytes.size() > kMaxBlockListBytes ||
        std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        return std::nullopt;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    BlockList list;
    const uint32_t version = ReadLe<uint32_t>(p + 8);
    const uint32_t blockSize = ReadLe<uint32_t>(p + 12);
    const uint64_t length = ReadLe<uint64_t>(p + 16);
    if (version != kVersion || blockSize != static_cast<uint32_t>(kCheckedBlockSize) ||
        length > static_cast<uint64_t>(kMaxListedLength)) {
        return std::nullopt;
    }
    list.length = static_cast<int64_t>(length);
    list.blockSize = static_cast<int32_t>(blockSize);
    const int64_t count = (list.length + list.blockSize - 1) / list.blockSize;
    if (bytes.size() != kBlockListHeadBytes + 32 * static_cast<size_t>(count)) return std::nullopt;
    std::memcpy(list.whole.data(), p + 24, 32);
    list.blocks.resize(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i)
        std::memcpy(list.blocks[static_cast<size_t>(i)].data(), p + kBlockListHeadBytes + 32 * i,
                    32);
    return list;
}

std::string SerializeBlockList(const BlockList& list) {
    std::string out(kMagic, sizeof kMagic);
    AppendLe<uint32_t>(out, kVersion);
    AppendLe<uint32_t>(out, static_cast<uint32_t>(list.blockSize));
    AppendLe<uint64_t>(out, static_cast<uint64_t>(list.length));
    out.append(reinterpret_cast<const char*>(list.whole.data()), list.whole.size());
    for (const Sha256Digest& d : list.blocks)
        out.append(reinterpret_cast<const char*>(d.data()), d.size());
    return out;
}

bool DescribeFile(const std::string& nativePath, BlockList& out, std::string& error) {
    std::unique_ptr<platform::IFile> file;
    if (const int e =
            platform::PosixFileSystem().Open(nativePath, platform::FileOpenMode::kRead, file);
        e != 0) {
        error = std::string("cannot open: ") + std::strerror(e);
        return false;
    }
    BlockList list;
    Sha256 whole, block;
    std::vector<char> buffer(static_cast<size_t>(kCheckedBlockSize));
    for (;;) {
        size_t filled = 0;
        while (filled < buffer.size()) {
            size_t got = 0;
            if (const int e = file->ReadAt(static_cast<uint64_t>(list.length) + filled,
                                           buffer.data() + filled, buffer.size() - filled, got);
                e != 0) {
                error = std::string("cannot read: ") + std::strerror(e);
                return false;
            }
            if (got == 0) break;
            filled += got;
        }
        if (filled == 0) break;
        whole.Update(buffer.data(), filled);
        block.Update(buffer.data(), filled);
        list.blocks.push_back(block.Finish());
        list.length += static_cast<int64_t>(filled);
        if (list.length > kMaxListedLength) {
            error = "longer than a block list describes (256 GiB)";
            return false;
        }
        if (filled < buffer.size()) break;
    }
    list.whole = whole.Finish();
    out = std::move(list);
    return true;
}

}  // namespace engine
