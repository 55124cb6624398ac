// AXP::IPakFile / AXP::PackFile: one pack file in the format of axp/format.h,
// opened read-only ("const mode") or for writing.
//
// Names are GBK byte strings, normalised (axp/name_hash.h) before every lookup. Paths
// are GBK library paths, mapped to native ones by platform::NativePath.
//
// Ownership: users create a PackFile with new (or on the stack) and destroy it, which
// closes it. Streams from OpenFile belong to the pack (see axp/stream.h).
// Failure: false / null / 0 results plus the library's last error (axp/error.h); nothing
// is thrown. Every change is written through at once (header, hash slot, block entry).
// Thread safety: a pack opened read-only may be read (Exists, GetFileSize,
// GetCompressType, OpenFile and the streams, ReadFileData, CheckConsistency) from several
// threads at once: reads are positional (pread) on one shared handle, which behaves as
// per-thread handles would. Open, Create, Close and every write are for one
// thread at a time, with no reader running.
// Hostile files: a pack whose tables point outside the file or the
// block table is refused at Open (error 2); an allocation needing a 65537th block entry
// is refused (error 12); reads never run past an entry's stored bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "axp/format.h"
#include "axp/stream.h"

namespace platform {
class IFileSystem;
}

namespace AXP {

// Whole-entry preloading threshold of OpenFile: entries below this are read at open.
inline constexpr uint32_t kPreloadLimit = 512001;

class IPakFile {
  public:
    using ListEntryCallback = bool (*)(void* context, const char* name, IStream* stream);
    using HashSlotCallback = bool (*)(void* context, uint32_t hashA, uint32_t hashB);
    using BlockCallback = bool (*)(void* context, uint32_t offset, uint32_t storedSize,
                                   uint32_t unpackedSize);

    // Opens an existing pack; closes any pack open before. Const mode opens read-only and
    // refuses a pack whose editing flag is set (error 7); a writer sets the flag.
    virtual bool Open(std::string_view path, bool constMode) = 0;
    // Creates (or truncates) a pack of 1484852 bytes and keeps it open for writing.
    virtual bool Create(std::string_view path) = 0;
    // Releases every stream, clears the editing flag (writer), closes. False when the
    // header could not be written back (the pack is closed all the same).
    virtual bool Close() = 0;
    virtual bool Exists(std::string_view name) = 0;
    // A stream over the decoded entry, or null (1 absent, 10 no pack or empty name,
    // 18 unknown codec, 2 inconsistent entry, 4/6/9/19 read, memory or codec failure).
    virtual IStream* OpenFile(std::string_view name) = 0;
    // The unpacked size, or the stored size when `storedSize` is set; 0 when absent.
    virtual uint32_t GetFileSize(std::string_view name, bool storedSize) = 0;
    // The compression type id; 0 when absent.
    virtual uint8_t GetCompressType(std::string_view name) = 0;
    // Adds or replaces an entry. From memory: `source` points at `bufferSize` bytes.
    // Otherwise `source` is a NUL-terminated GBK path of a file copied as it is
    // (`bufferSize` unused). `type` is recorded in the block entry (the content is
    // expected already encoded); with type 0 the unpacked size is the content size,
    // otherwise `unpackedSize`. `flush` syncs the file afterwards.
    virtual bool AddFile(const void* source, uint32_t bufferSize, std::string_view name,
                         bool fromMemory, bool flush, uint8_t type, uint32_t unpackedSize) = 0;
    virtual bool RemoveFile(std::string_view name, bool flush) = 0;
    // Checks the pack against its list file; callbacks may be null, a callback
    // returning false stops the check with false.
    virtual bool CheckConsistency(void* context, ListEntryCallback onListEntry,
                                  HashSlotCallback onHashSlot, BlockCallback onBlock) = 0;
    virtual const char* GetListFileName() const = 0;
    // Decode clear: the first `count` stored bytes (count above the stored size: error 10).
    // Decode set: the first `count` decoded bytes (fewer available: error 4 "file=%s").
    virtual bool ReadFileData(std::string_view name, bool decode, void* buffer, uint32_t count) = 0;
    virtual ~IPakFile() = default;
};

// Counters for tools (axp info).
struct PackInfo {
    PackHeader header;  // as held in memory (a writer's editing flag is 1)
    uint64_t fileSize = 0;
    uint32_t usedBlocks = 0;  // block entries with bit 31 set
    uint32_t freeBlocks = 0;
    uint32_t usedSlots = 0;  // hash slots with bit 31 set
    bool constMode = true;
};

class DataStream;

class PackFile final : public IPakFile {
  public:
    // `fileSystem` (not owned, must outlive the pack) is where files are opened; null means
    // platform::PosixFileSystem(). Tests pass a platform::FaultInjectingFileSystem.
    explicit PackFile(platform::IFileSystem* fileSystem = nullptr);
    ~PackFile() override;
    PackFile(const PackFile&) = delete;
    PackFile& operator=(const PackFile&) = delete;

    bool Open(std::string_view path, bool constMode) override;
    bool Create(std::string_view path) override;
    bool Close() override;
    bool Exists(std::string_view name) override;
    IStream* OpenFile(std::string_view name) override;
    uint32_t GetFileSize(std::string_view name, bool storedSize) override;
    uint8_t GetCompressType(std::string_view name) override;
    bool AddFile(const void* source, uint32_t bufferSize, std::string_view name, bool fromMemory,
                 bool flush, uint8_t type, uint32_t unpackedSize) override;
    bool RemoveFile(std::string_view name, bool flush) override;
    bool CheckConsistency(void* context, ListEntryCallback onListEntry, HashSlotCallback onHashSlot,
                          BlockCallback onBlock) override;
    const char* GetListFileName() const override { return kListFileName; }
    bool ReadFileData(std::string_view name, bool decode, void* buffer, uint32_t count) override;

    // For tools and tests.
    bool IsOpen() const;
    bool IsConstMode() const;
    bool GetInfo(PackInfo& info) const;
    // Block entry of a name (false when absent or no pack).
    bool GetBlockEntry(std::string_view name, BlockEntry& entry) const;

  private:
    friend class DataStream;
    struct Impl;
    void ReleaseStream(DataStream* stream);
    std::unique_ptr<Impl> impl_;
};

}  // namespace AXP
