#include "axp/pack_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "axp/block_table.h"
#include "axp/compress.h"
#include "axp/crc.h"
#include "axp/data_stream.h"
#include "axp/error.h"
#include "axp/hash_table.h"
#include "axp/name_hash.h"
#include "pack_io.h"
#include "platform/file.h"

namespace AXP {
namespace {

constexpr uint32_t kCopyChunk = 4096;
constexpr uint32_t kZeroChunk = 65536;
const uint8_t kZeros[kZeroChunk] = {};

int Signed(uint64_t v) { return static_cast<int>(static_cast<uint32_t>(v)); }

}  // namespace

struct PackFile::Impl {
    platform::IFileSystem* fs;
    std::string path;
    bool constMode = true;
    std::unique_ptr<platform::IFile> file;
    PackHeader header;
    HashTable hash;
    BlockTable blocks;
    std::mutex mutex;                  // held while a stream is opened or released
    std::vector<DataStream*> streams;  // open streams, owned

    explicit Impl(platform::IFileSystem* f) : fs(f) {}

    bool broken = false;  // a failed write left memory and file apart and a resync failed

    bool IsOpen() const { return file != nullptr; }
    // A pack opened read-only never writes (error 3 "Const Mode").
    bool CheckNotConstMode() const {
        if (constMode) {
            SetLastError(kErrOpen, "Const Mode");
            return false;
        }
        return true;
    }
    // Entries change only in a pack opened for writing whose memory still matches its file
    // (a broken pack: error 5 "errno=EIO").
    bool CheckEntriesWritable() const {
        if (!CheckNotConstMode()) return false;
        if (broken) {
            SetLastError(kErrWrite, "errno=%d", EIO);
            return false;
        }
        return true;
    }
    // After a failed write: reloads the tables from the file so that memory matches what is
    // on disk (the last error is kept). When that fails the pack is marked broken: further
    // writes are refused and Close leaves the header (and its editing flag) alone.
    bool Resync();
    // A stream over the entry `name` of `owner`, neither preloaded nor registered yet (the
    // caller holds the mutex); null with the last error set when the entry cannot be read.
    DataStream* NewStream(PackFile* owner, std::string_view name);

    // Finds the slot of a name in use; -1 when absent or the name is empty.
    int64_t FindSlot(std::string_view name) const {
        if (name.empty() || !IsOpen()) return -1;
        return hash.Find(HashNormalisedName(NormaliseName(name)));
    }

    // A full disk gets its own code (12), so that the user is told to free space rather
    // than that the pack is damaged.
    void WriteFailed(int e) const {
        if (IsDiskFull(e)) {
            SetWriteError(kErrWrite, path, e);
        } else {
            SetLastError(kErrWrite, "errno=%d", e);
        }
    }

    bool WriteAt(uint64_t offset, const void* data, size_t size) {
        if (int e = file->WriteAt(offset, data, size)) {
            WriteFailed(e);
            return false;
        }
        return true;
    }

    bool WriteHeader() {
        if (!CheckNotConstMode()) return false;
        uint8_t bytes[kHeaderSize];
        EncodeHeader(header, bytes);
        return WriteAt(0, bytes, sizeof(bytes));
    }

    bool WriteSlot(uint32_t index) {
        if (!CheckNotConstMode()) return false;
        if (index >= kHashSlotCount) {
            SetLastError(kErrInvalidArg);
            return false;
        }
        uint8_t bytes[kHashSlotSize];
        EncodeHashSlot(hash.At(index), bytes);
        return WriteAt(uint64_t{header.hashTableOffset} + uint64_t{kHashSlotSize} * index, bytes,
                       sizeof(bytes));
    }

    bool WriteBlock(uint32_t index) {
        if (!CheckNotConstMode()) return false;
        if (index >= blocks.Count()) {
            SetLastError(kErrInvalidArg);
            return false;
        }
        uint8_t bytes[kBlockEntrySize];
        EncodeBlockEntry(blocks.At(index), bytes);
        return WriteAt(uint64_t{header.blockTableOffset} + uint64_t{kBlockEntrySize} * index, bytes,
                       sizeof(bytes));
    }

    bool WriteZeros(uint64_t offset, uint64_t size) {
        while (size > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(size, kZeroChunk));
            if (!WriteAt(offset, kZeros, n)) return false;
            offset += n;
            size -= n;
        }
        return true;
    }

    // Writes the content of a block: `size` bytes, then zeros up to the rounded size.
    bool WriteContent(const BlockEntry& block, const void* source, uint32_t size, bool fromMemory) {
        const uint64_t rounded = RoundSize(block.storedSize);
        uint64_t written = 0;
        if (fromMemory) {
            const uint64_t n = std::min<uint64_t>(size, rounded);
            if (n > 0 && !WriteAt(block.offset, source, static_cast<size_t>(n))) return false;
            written = n;
        } else {
            const char* sourcePath = static_cast<const char*>(source);
            std::unique_ptr<platform::IFile> in;
            if (int e = fs->Open(ToNativePath(sourcePath), platform::FileOpenMode::kRead, in)) {
                SetLastError(kErrOpen, "Open file: %s, errno=%d", sourcePath, e);
                return false;
            }
            uint8_t chunk[kCopyChunk];
            while (written < size) {
                const size_t want =
                    static_cast<size_t>(std::min<uint64_t>(kCopyChunk, size - written));
                size_t got = 0;
                if (in->ReadAt(written, chunk, want, got) != 0) {
                    SetLastError(kErrRead, "file: %s", sourcePath);
                    return false;
                }
                if (got == 0) break;  // the file shrank: the rest is zero-filled
                if (!WriteAt(block.offset + written, chunk, got)) return false;
                written += got;
            }
        }
        return WriteZeros(block.offset + written, rounded - written);
    }

    bool Sync() {
        if (int e = file->Sync()) {
            WriteFailed(e);
            return false;
        }
        return true;
    }

    // A writer killed between the two records of a change (see AddFile and RemoveFile)
    // leaves a block marked in use that no slot references; the write order makes sure it
    // is never the other way round. Nothing can reach such a block, and running the same
    // change again cannot either, so the next writer frees it: the space is used again and
    // the consistency check passes.
    bool ReclaimOrphanBlocks() {
        std::vector<bool> referenced(blocks.Count(), false);
        for (uint32_t i = 0; i < kHashSlotCount; ++i) {
            const HashSlot& s = hash.At(i);
            if (s.InUse() && s.BlockIndex() < blocks.Count()) referenced[s.BlockIndex()] = true;
        }
        bool changed = false;
        for (uint32_t b = 0; b < blocks.Count(); ++b) {
            if (!blocks.At(b).InUse() || referenced[b]) continue;
            blocks.Free(b, header);
            if (!WriteBlock(b)) return false;
            changed = true;
        }
        // The header's free-bytes count was kept by running sums; a writer killed between
        // a block entry and the header left it off (repeated kills can wrap it), so it is
        // counted again from the free blocks themselves.
        const uint32_t counted = blocks.FreeBytes();
        if (header.freeBytes != counted) {
            header.freeBytes = counted;
            changed = true;
        }
        return !changed || (WriteHeader() && Sync());
    }

    void Forget() {
        file.reset();
        header = PackHeader{};
        hash.Clear();
        blocks.Clear();
        constMode = true;
        broken = false;
    }
};

PackFile::PackFile(platform::IFileSystem* fileSystem)
    : impl_(std::make_unique<Impl>(fileSystem ? fileSystem : &platform::PosixFileSystem())) {}

PackFile::~PackFile() { Close(); }

bool PackFile::IsOpen() const { return impl_->IsOpen(); }
bool PackFile::IsConstMode() const { return impl_->constMode; }

namespace {

// Reads and checks header, hash table and block table (Open steps 3-5 plus the sound
// checks). On failure the last error is set.
bool LoadTables(platform::IFile& file, bool constMode, PackHeader& header,
                std::vector<HashSlot>& slots, std::vector<BlockEntry>& entries) {
    uint64_t fileSize = 0;
    if (int e = file.GetSize(fileSize)) {
        SetLastError(kErrRead, "errno=%d", e);
        return false;
    }
    uint8_t headerBytes[kHeaderSize];
    if (int e = platform::ReadExactAt(file, 0, headerBytes, kHeaderSize)) {
        SetLastError(kErrRead, "errno=%d", e < 0 ? 0 : e);
        return false;
    }
    header = DecodeHeader(headerBytes);
    if (header.version != kPackVersion) {
        SetLastError(kErrVersion, "Version=%d, LibVersion=%d", Signed(header.version),
                     Signed(kPackVersion));
        return false;
    }
    if (constMode && header.editing != 0) {
        SetLastError(kErrNotClosed);
        return false;
    }
    // Sound behaviour: the regions are fixed at creation; a header that moves them is
    // refused rather than read or written where it points.
    if (header.magic != kPackMagic || header.hashTableOffset != kHashTableOffset ||
        header.blockTableOffset != kBlockTableOffset ||
        header.blockTableAreaSize != kBlockTableAreaSize ||
        header.dataAreaOffset != kDataAreaOffset || header.blockCount > kMaxBlockCount ||
        fileSize < kDataAreaOffset) {
        SetLastError(kErrCorrupt);
        return false;
    }
    std::vector<uint8_t> bytes(kHashTableSize);
    if (int e = platform::ReadExactAt(file, header.hashTableOffset, bytes.data(), bytes.size())) {
        SetLastError(kErrRead, "errno=%d", e < 0 ? 0 : e);
        return false;
    }
    slots.assign(kHashSlotCount, HashSlot{});
    for (uint32_t i = 0; i < kHashSlotCount; ++i) {
        slots[i] = DecodeHashSlot(bytes.data() + kHashSlotSize * i);
        if (slots[i].InUse() && slots[i].BlockIndex() >= header.blockCount) {
            SetLastError(kErrCorrupt);
            return false;
        }
    }
    bytes.assign(size_t{header.blockCount} * kBlockEntrySize, 0);
    if (int e = platform::ReadExactAt(file, header.blockTableOffset, bytes.data(), bytes.size())) {
        SetLastError(kErrRead, "errno=%d", e < 0 ? 0 : e);
        return false;
    }
    // The data area ends inside the file: new blocks are placed at its end, so a larger
    // "data used" would make the next write extend the file to wherever it points.
    const uint64_t dataEnd = uint64_t{header.dataAreaOffset} + header.dataUsed;
    if (dataEnd > fileSize) {
        SetLastError(kErrCorrupt);
        return false;
    }
    entries.assign(header.blockCount, BlockEntry{});
    for (uint32_t i = 0; i < header.blockCount; ++i) {
        const BlockEntry b = DecodeBlockEntry(bytes.data() + kBlockEntrySize * i);
        if (b.offset < header.dataAreaOffset || uint64_t{b.offset} + b.storedSize > fileSize ||
            uint64_t{b.offset} + RoundSize(b.storedSize) > dataEnd) {
            SetLastError(kErrCorrupt);
            return false;
        }
        entries[i] = b;
    }
    return true;
}

}  // namespace

bool PackFile::Impl::Resync() {
    const uint32_t code = GetLastErrorCode();
    const std::string text = GetLastErrorText();
    PackHeader h;
    std::vector<HashSlot> slots;
    std::vector<BlockEntry> entries;
    const bool ok = LoadTables(*file, false, h, slots, entries);
    if (ok) {
        header = h;
        header.editing = 1;
        hash.Load(std::move(slots));
        blocks.Load(std::move(entries));
    } else {
        broken = true;
    }
    SetLastError(code, "%s", text.c_str());
    return ok;
}

bool PackFile::Open(std::string_view path, bool constMode) {
    if (path.empty()) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    Close();
    Impl& m = *impl_;
    m.path.assign(path);
    std::unique_ptr<platform::IFile> file;
    if (int e = m.fs->Open(
            ToNativePath(path),
            constMode ? platform::FileOpenMode::kRead : platform::FileOpenMode::kReadWrite, file)) {
        SetLastError(kErrOpen, "File=%s, errno=%d", m.path.c_str(), e);
        return false;
    }
    PackHeader header;
    std::vector<HashSlot> slots;
    std::vector<BlockEntry> entries;
    if (!LoadTables(*file, constMode, header, slots, entries)) return false;
    const bool writerDied = header.editing != 0;
    m.header = header;
    m.hash.Load(std::move(slots));
    m.blocks.Load(std::move(entries));
    m.file = std::move(file);
    m.constMode = constMode;
    m.broken = false;
    if (!constMode) {
        m.header.editing = 1;
        m.header.version = kPackVersion;
        if (!m.WriteHeader() || !m.Sync() || (writerDied && !m.ReclaimOrphanBlocks())) {
            m.file->Close();
            m.Forget();
            return false;
        }
    }
    return true;
}

bool PackFile::Create(std::string_view path) {
    if (path.empty()) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    Close();
    Impl& m = *impl_;
    m.path.assign(path);
    std::unique_ptr<platform::IFile> file;
    if (int e = m.fs->Open(ToNativePath(path), platform::FileOpenMode::kCreateReadWrite, file)) {
        SetLastError(kErrOpen, "errno=%d", e);
        return false;
    }
    m.file = std::move(file);
    m.constMode = false;
    m.header = PackHeader{};
    m.header.editing = 1;
    m.hash.Clear();
    m.blocks.Clear();
    if (!m.WriteHeader() || !m.WriteZeros(kHashTableOffset, kHashTableSize) ||
        !m.WriteZeros(kBlockTableOffset, kBlockTableAreaSize)) {
        const uint32_t code = GetLastErrorCode();
        const std::string text = GetLastErrorText();
        m.Forget();
        SetLastError(code, "%s", text.c_str());
        return false;
    }
    return true;
}

bool PackFile::Close() {
    Impl& m = *impl_;
    {
        std::lock_guard<std::mutex> lock(m.mutex);
        for (DataStream* s : m.streams) {
            s->Detach();
            delete s;
        }
        m.streams.clear();
    }
    if (!m.IsOpen()) {
        m.Forget();
        return true;
    }
    bool ok = !m.broken;
    if (!m.constMode && !m.broken) {
        if (m.header.editing != 0) {
            m.header.editing = 0;
            ok = m.WriteHeader();
        }
        ok = m.Sync() && ok;
    }
    if (int e = m.file->Close()) {
        if (ok) SetLastError(kErrWrite, "errno=%d", e);
        ok = false;
    }
    m.Forget();
    return ok;
}

bool PackFile::Exists(std::string_view name) { return impl_->FindSlot(name) >= 0; }

uint32_t PackFile::GetFileSize(std::string_view name, bool storedSize) {
    const int64_t slot = impl_->FindSlot(name);
    if (slot < 0) return 0;
    const BlockEntry& b =
        impl_->blocks.At(impl_->hash.At(static_cast<uint32_t>(slot)).BlockIndex());
    return storedSize ? b.storedSize : b.unpackedSize;
}

uint8_t PackFile::GetCompressType(std::string_view name) {
    const int64_t slot = impl_->FindSlot(name);
    if (slot < 0) return 0;
    return impl_->blocks.At(impl_->hash.At(static_cast<uint32_t>(slot)).BlockIndex()).Type();
}

bool PackFile::GetBlockEntry(std::string_view name, BlockEntry& entry) const {
    const int64_t slot = impl_->FindSlot(name);
    if (slot < 0) return false;
    entry = impl_->blocks.At(impl_->hash.At(static_cast<uint32_t>(slot)).BlockIndex());
    return true;
}

bool PackFile::GetInfo(PackInfo& info) const {
    const Impl& m = *impl_;
    if (!m.IsOpen()) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    info = PackInfo{};
    info.header = m.header;
    info.constMode = m.constMode;
    if (int e = m.file->GetSize(info.fileSize)) {
        SetLastError(kErrRead, "errno=%d", e);
        return false;
    }
    for (uint32_t i = 0; i < m.blocks.Count(); ++i) {
        if (m.blocks.At(i).InUse())
            ++info.usedBlocks;
        else
            ++info.freeBlocks;
    }
    info.usedSlots = m.hash.UsedCount();
    return true;
}

bool PackFile::AddFile(const void* source, uint32_t bufferSize, std::string_view name,
                       bool fromMemory, bool flush, uint8_t type, uint32_t unpackedSize) {
    Impl& m = *impl_;
    if (name.empty() || !m.IsOpen()) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    const char* sourcePath = static_cast<const char*>(source);
    if (!fromMemory && (sourcePath == nullptr || sourcePath[0] == '\0')) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    if (fromMemory && source == nullptr && bufferSize != 0) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    if (!m.CheckEntriesWritable()) return false;
    uint32_t size = bufferSize;
    if (!fromMemory) {
        uint64_t fileSize = 0;
        bool isDirectory = false;
        if (m.fs->Stat(ToNativePath(sourcePath), fileSize, isDirectory) != 0 || isDirectory) {
            SetLastError(kErrNotFound, "%s", sourcePath);
            return false;
        }
        if (fileSize > 0xFFFFFFFFull) {
            SetLastError(kErrInvalidArg, "File=%s(too large)", sourcePath);
            return false;
        }
        size = static_cast<uint32_t>(fileSize);
    }
    const NameHashes h = HashNormalisedName(NormaliseName(name));
    const int64_t slotIndex = m.hash.FindForInsert(h);
    if (slotIndex < 0) {
        SetLastError(kErrHashTableFull);
        return false;
    }
    const uint32_t slot = static_cast<uint32_t>(slotIndex);
    const uint32_t flags = kBlockInUse | type;
    const uint32_t unpacked = type == 0 ? size : unpackedSize;
    HashSlot s = m.hash.At(slot);
    auto failed = [&m] {
        m.Resync();
        return false;
    };

    if (s.InUse()) {
        const uint32_t old = s.BlockIndex();
        const BlockEntry oldEntry = m.blocks.At(old);
        if (RoundSize(oldEntry.storedSize) == RoundSize(size) && oldEntry.InUse()) {
            // Same rounded size: rewrite the content in place.
            BlockEntry& b = m.blocks.At(old);
            const BlockEntry target{b.offset, size, unpacked,
                                    (b.flags & kBlockReservedMask) | flags};
            if (!m.WriteContent(target, source, size, fromMemory)) return failed();
            if (b.storedSize != size || b.unpackedSize != unpacked || b.flags != target.flags) {
                b.storedSize = size;
                b.unpackedSize = unpacked;
                b.flags = target.flags;
                if (!m.WriteBlock(old)) return failed();
            }
            return !flush || m.Sync();
        }
        const bool wasUsed = oldEntry.InUse();
        m.blocks.Free(old, m.header);
        BlockTable::Allocation a;
        if (!m.blocks.Allocate(size, m.header, a)) {
            if (wasUsed) m.blocks.Unfree(old, m.header);
            SetLastError(kErrNoSpace);
            return false;
        }
        BlockEntry& b = m.blocks.At(a.block);
        b.unpackedSize = unpacked;
        b.flags = (b.flags & kBlockReservedMask) | flags;
        s.blockRef = (s.blockRef & kSlotPreservedBit) | kSlotInUse | a.block;
        m.hash.Set(slot, s);
        const BlockEntry target = m.blocks.At(a.block);
        // Order (sound behaviour, see README): what a record points at is on disk before the
        // record, so a process killed between two writes leaves a pack that opens.
        if (a.split && !m.WriteBlock(a.remainderBlock)) return failed();
        if (!m.WriteContent(target, source, size, fromMemory)) return failed();
        if (!m.WriteBlock(a.block) || !m.WriteHeader() || !m.WriteSlot(slot) ||
            (old != a.block && !m.WriteBlock(old)) || !m.WriteHeader()) {
            return failed();
        }
        return !flush || m.Sync();
    }

    BlockTable::Allocation a;
    if (!m.blocks.Allocate(size, m.header, a)) {
        SetLastError(kErrNoSpace);
        return false;
    }
    BlockEntry& b = m.blocks.At(a.block);
    b.unpackedSize = unpacked;
    b.flags = (b.flags & kBlockReservedMask) | flags;
    // A free slot taken again keeps the bits this library does not use.
    m.hash.Set(slot,
               HashSlot{h.hashA, h.hashB, (s.blockRef & kSlotPreservedBit) | kSlotInUse | a.block});
    const BlockEntry target = m.blocks.At(a.block);
    if (a.split && !m.WriteBlock(a.remainderBlock)) return failed();
    if (!m.WriteContent(target, source, size, fromMemory)) return failed();
    if (!m.WriteBlock(a.block) || !m.WriteHeader() || !m.WriteSlot(slot)) return failed();
    return !flush || m.Sync();
}

bool PackFile::RemoveFile(std::string_view name, bool flush) {
    Impl& m = *impl_;
    if (name.empty() || !m.IsOpen()) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    if (!m.CheckEntriesWritable()) return false;
    const int64_t slotIndex = m.FindSlot(name);
    if (slotIndex < 0) {
        SetLastError(kErrNotFound, "%.*s", static_cast<int>(name.size()), name.data());
        return false;
    }
    const uint32_t slot = static_cast<uint32_t>(slotIndex);
    HashSlot s = m.hash.At(slot);
    const uint32_t block = s.BlockIndex();
    s.blockRef &= ~kSlotInUse;
    m.hash.Set(slot, s);
    m.blocks.Free(block, m.header);
    // The slot first: a killed process leaves an unreferenced block, never a slot that
    // points at free space.
    if (!m.WriteSlot(slot) || !m.WriteBlock(block) || !m.WriteHeader()) {
        m.Resync();
        return false;
    }
    return !flush || m.Sync();
}

DataStream* PackFile::Impl::NewStream(PackFile* owner, std::string_view name) {
    if (name.empty() || !IsOpen()) {
        SetLastError(kErrInvalidArg);
        return nullptr;
    }
    const int64_t slot = FindSlot(name);
    if (slot < 0) {
        SetLastError(kErrNotFound, "%.*s", static_cast<int>(name.size()), name.data());
        return nullptr;
    }
    const BlockEntry b = blocks.At(hash.At(static_cast<uint32_t>(slot)).BlockIndex());
    const ICompress* codec = nullptr;
    if (b.Type() != 0) {
        codec = GetCompressManager().GetByType(b.Type());
        if (codec == nullptr) {
            SetLastError(kErrUnknownCompress, "CompressType=%d", b.Type());
            return nullptr;
        }
    }
    const bool sameLength = codec == nullptr || codec->CanStream();
    // Sound behaviour: a same-length entry cannot decode to more bytes than it stores.
    if (sameLength && b.unpackedSize > b.storedSize) {
        SetLastError(kErrCorrupt, "file=%.*s", static_cast<int>(name.size()), name.data());
        return nullptr;
    }
    // Sound behaviour: an entry claiming more than its stored bytes can decode to is refused
    // before its preload buffer is allocated.
    if (!sameLength && b.unpackedSize > codec->GetMaxDecompressedSize(b.storedSize)) {
        SetLastError(kErrCorrupt, "file=%.*s", static_cast<int>(name.size()), name.data());
        return nullptr;
    }
    auto* stream = new (std::nothrow)
        DataStream(owner, codec, file.get(), b.offset, b.storedSize, b.unpackedSize);
    if (stream == nullptr) {
        SetLastError(kErrNoMemory, "size=%d", static_cast<int>(sizeof(DataStream)));
        return nullptr;
    }
    return stream;
}

IStream* PackFile::OpenFile(std::string_view name) {
    Impl& m = *impl_;
    std::lock_guard<std::mutex> lock(m.mutex);
    DataStream* stream = m.NewStream(this, name);
    if (stream == nullptr) return nullptr;
    if (stream->NeedsPreload() && !stream->Preload()) {
        delete stream;
        return nullptr;
    }
    m.streams.push_back(stream);
    return stream;
}

void PackFile::ReleaseStream(DataStream* stream) {
    Impl& m = *impl_;
    {
        std::lock_guard<std::mutex> lock(m.mutex);
        auto it = std::find(m.streams.begin(), m.streams.end(), stream);
        if (it == m.streams.end()) return;
        m.streams.erase(it);
    }
    stream->Detach();
    delete stream;
}

bool PackFile::ReadFileData(std::string_view name, bool decode, void* buffer, uint32_t count) {
    Impl& m = *impl_;
    if (name.empty() || !m.IsOpen() || (buffer == nullptr && count != 0)) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    if (!decode) {
        const int64_t slot = m.FindSlot(name);
        if (slot < 0) {
            SetLastError(kErrNotFound, "%.*s", static_cast<int>(name.size()), name.data());
            return false;
        }
        const BlockEntry b = m.blocks.At(m.hash.At(static_cast<uint32_t>(slot)).BlockIndex());
        if (count > b.storedSize) {  // sound behaviour: never past the stored bytes
            SetLastError(kErrInvalidArg);
            return false;
        }
        if (int e = platform::ReadExactAt(*m.file, b.offset, buffer, count)) {
            SetLastError(kErrRead, "errno=%d", e < 0 ? 0 : e);
            return false;
        }
        return true;
    }
    DataStream* stream;
    bool whole;
    {
        std::lock_guard<std::mutex> lock(m.mutex);
        stream = m.NewStream(this, name);
        if (stream == nullptr) return false;
        whole = count != 0 && count == stream->GetSize();
        if (!whole && stream->NeedsPreload() && !stream->Preload()) {
            delete stream;
            return false;
        }
        m.streams.push_back(stream);
    }
    // The whole entry is decoded straight into the caller's buffer, outside the pack's lock;
    // a part of it goes through the stream as any reader's would.
    bool ok = true;
    if (whole) {
        ok = stream->ReadWhole(static_cast<uint8_t*>(buffer));
    } else if (count != 0 && stream->Read(buffer, count) != count) {
        SetLastError(kErrRead, "file=%.*s", static_cast<int>(name.size()), name.data());
        ok = false;
    }
    stream->Release();
    return ok;
}

namespace {

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        size_t bar = line.find('|', start);
        if (bar == std::string::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, bar - start));
        start = bar + 1;
    }
}

}  // namespace

bool PackFile::CheckConsistency(void* context, ListEntryCallback onListEntry,
                                HashSlotCallback onHashSlot, BlockCallback onBlock) {
    Impl& m = *impl_;
    if (!m.IsOpen()) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    if (m.header.editing != 0) {
        SetLastError(kErrNotClosed);
        return false;
    }
    const int64_t listSlot = m.FindSlot(kListFileName);
    IStream* list = OpenFile(kListFileName);
    if (list == nullptr) return false;
    struct Releaser {
        IStream* s;
        ~Releaser() {
            if (s) s->Release();
        }
    } listGuard{list};
    if (onListEntry && !onListEntry(context, kListFileName, list)) return false;
    const uint32_t listBlock = m.hash.At(static_cast<uint32_t>(listSlot)).BlockIndex();

    char line[1041];
    list->ReadLine(line, sizeof(line));
    const long expected = std::strtol(line, nullptr, 10);
    std::vector<uint8_t> slotSeen(kHashSlotCount, 0);
    std::vector<uint8_t> blockSeen(m.blocks.Count(), 0);
    constexpr uint32_t kCheckChunk = 65536;
    std::vector<uint8_t> content(kCheckChunk);
    long count = 0;
    while (!list->IsEof()) {
        const uint32_t length = list->ReadLine(line, sizeof(line));
        if (length == 0) {
            SetLastError(kErrCorrupt, "list file second line=0");
            return false;
        }
        const std::vector<std::string> fields = SplitFields(std::string(line, length));
        if (fields.size() != 3) {
            SetLastError(kErrCorrupt, "list file=%s", line);
            return false;
        }
        const std::string& entryName = fields[0];
        const uint32_t listedSize =
            static_cast<uint32_t>(std::strtoul(fields[1].c_str(), nullptr, 16));
        const uint32_t listedCrc =
            static_cast<uint32_t>(std::strtoul(fields[2].c_str(), nullptr, 16));
        IStream* stream = OpenFile(entryName);
        if (stream == nullptr) return false;
        Releaser guard{stream};
        if (onListEntry && !onListEntry(context, entryName.c_str(), stream)) return false;
        if (stream->GetSize() != listedSize) {
            SetLastError(kErrCorrupt, "file=%s, sizedif(%d!=%d)", entryName.c_str(),
                         Signed(stream->GetSize()), Signed(listedSize));
            return false;
        }
        uint32_t state = kCrcInit;
        for (uint32_t done = 0; done < listedSize;) {
            const uint32_t want = std::min<uint32_t>(kCheckChunk, listedSize - done);
            if (stream->Read(content.data(), want) != want) {
                SetLastError(kErrRead, "file=%s", entryName.c_str());
                return false;
            }
            state = CrcUpdate(state, content.data(), want);
            done += want;
        }
        const uint32_t crc = CrcFinal(state);
        if (crc != listedCrc) {
            SetLastError(kErrCorrupt, "file=%s, crcdif(%d!=%d)", entryName.c_str(), Signed(crc),
                         Signed(listedCrc));
            return false;
        }
        const int64_t slot = m.FindSlot(entryName);
        slotSeen[static_cast<size_t>(slot)] = 1;
        blockSeen[m.hash.At(static_cast<uint32_t>(slot)).BlockIndex()] = 1;
        ++count;
    }
    if (count != expected) {
        SetLastError(kErrCorrupt, "file countdif(%d!=%d)", static_cast<int>(count),
                     static_cast<int>(expected));
        return false;
    }
    for (uint32_t i = 0; i < kHashSlotCount; ++i) {
        const HashSlot& s = m.hash.At(i);
        if (!s.InUse()) continue;
        if (onHashSlot && !onHashSlot(context, s.hashA, s.hashB)) return false;
        if (!slotSeen[i] && static_cast<int64_t>(i) != listSlot) {
            SetLastError(kErrCorrupt, "unref hashnode(%d)", static_cast<int>(i));
            return false;
        }
    }
    for (uint32_t i = 0; i < m.blocks.Count(); ++i) {
        const BlockEntry& b = m.blocks.At(i);
        if (!b.InUse()) continue;
        if (onBlock && !onBlock(context, b.offset, b.storedSize, b.unpackedSize)) return false;
        if (!blockSeen[i] && i != listBlock) {
            SetLastError(kErrCorrupt, "unref blocknode(%d)", static_cast<int>(i));
            return false;
        }
    }
    return true;
}

}  // namespace AXP
