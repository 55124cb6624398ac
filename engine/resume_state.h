// The resume state of one engine task, kept beside its target file:
//   TARGET.$p4p$   the data as it arrives, each piece at its own offset
//   TARGET.$finfo$ the file description (section FileInfo)
//   TARGET.$fmap$  the region map: counts in FileInfo, one section per region
// Both state files are CIniEx2 stores, each replaced whole on save (see ini_store.h).
//
// A loaded state is checked before it is trusted: numbers must be plain decimals; the
// block size, the length and the number of blocks they make stay within the limits below;
// regions lie inside the file and do not overlap, counts stay below kMaxRegions, complete
// regions lie inside the data file. A state that fails is refused as a whole and the task
// starts the file from the beginning.
//
// Not thread safe: the files belong to the task's thread.
// The format, field by field: docs/formats/resume-state.md
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"

namespace engine {

inline constexpr const char* kDataSuffix = ".$p4p$";
inline constexpr const char* kDescriptionSuffix = ".$finfo$";
inline constexpr const char* kRegionMapSuffix = ".$fmap$";
inline constexpr int32_t kMaxRegions = 1 << 20;
// What a description may claim: whatever a caller allocates per block stays small.
inline constexpr int32_t kMaxBlockSize = 64 << 20;
inline constexpr int64_t kMaxFileLength = int64_t{1} << 42;  // 4 TiB
inline constexpr int64_t kMaxBlocks = int64_t{1} << 24;      // 4 TiB in blocks of 256 KiB

// The number of blocks of `blockSize` bytes that hold `length` bytes (0 for a length not
// known yet); -1 when the pair lies outside the limits above.
int64_t BlockCount(int64_t length, int32_t blockSize);

struct FileDescription {
    int32_t blockSize = 0;  // bytes per block, the unit of the region map
    int64_t length = 0;     // file size in bytes; 0 or less when not known yet
    std::string url;
    std::string md5;  // may be empty
    std::string referer;
    int32_t downloadMode = 0;
};

enum class RegionState : int32_t {
    Unscheduled = 0,
    Confirmed = 1,    // received and checked: the only complete state
    Unconfirmed = 2,  // received, not yet checked
    Downloading = 3,
};

const char* RegionStateName(RegionState state);  // "UNSCHEDULE", "DLSAFE", ...

struct Region {
    int32_t start = 0;     // first block
    int32_t length = 0;    // blocks
    int32_t position = 0;  // next block to fill
    RegionState state = RegionState::Unscheduled;
    int32_t from = 0;     // the source that delivered it (complete regions)
    int32_t useTime = 0;  // how long it took (complete regions)

    bool completed() const { return state == RegionState::Confirmed; }
    bool operator==(const Region&) const = default;
};

class ResumeFiles {
  public:
    explicit ResumeFiles(std::string gbkTargetPath,
                         platform::IFileSystem& fs = platform::PosixFileSystem());
    ~ResumeFiles();  // closes the data file
    ResumeFiles(const ResumeFiles&) = delete;
    ResumeFiles& operator=(const ResumeFiles&) = delete;

    bool SaveDescription(const FileDescription& description);
    // False when there is no usable description (missing file, a number that is not
    // one, a block size or length that BlockCount refuses): the task starts afresh.
    bool LoadDescription(FileDescription& description);

    // Complete regions first, then every other region as an open one.
    bool SaveRegionMap(const std::vector<Region>& regions);
    // Regions in file order of the map (complete ones, then open ones). False, with
    // `regions` empty, when the map is missing or refused.
    bool LoadRegionMap(const FileDescription& description, std::vector<Region>& regions);

    // Opens the data file, keeping what an earlier task wrote into it.
    bool OpenData();
    // Writes at the absolute `offset`; returns `size`, or -1 when it could not.
    int64_t WriteData(int64_t offset, const void* data, size_t size);
    void CloseData();

    // Removes the state files, closes the data file, then keep: renames it over the target
    // (replacing an existing one; when it cannot, the data stays in the data file);
    // discard: removes it. False when a step failed.
    bool Finish(bool keep);

    std::string DataPath() const { return target_ + kDataSuffix; }
    std::string DescriptionPath() const { return target_ + kDescriptionSuffix; }
    std::string RegionMapPath() const { return target_ + kRegionMapSuffix; }

  private:
    // Every complete region's bytes lie inside the data file: a map that outlived its
    // data (a removed or shorter data file) would otherwise mark holes as received.
    bool DataHolds(const std::vector<Region>& regions, const FileDescription& d);
    bool RemoveIfPresent(const std::string& gbkPath);

    std::string target_;
    platform::IFileSystem& fs_;
    std::unique_ptr<platform::IFile> data_;
};

}  // namespace engine
