#include "engine/resume_state.h"

#include <errno.h>

#include <algorithm>
#include <charconv>

#include "engine/ini_store.h"
#include "engine/logger.h"
#include "platform/native_path.h"

namespace engine {
namespace {

constexpr const char* kInfo = "FileInfo";

// Plain decimals only ("-" allowed): a number that is not one refuses the state.
template <typename Int>
bool ParseNumber(const std::string& text, Int& out) {
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, out);
    return !text.empty() && error == std::errc() && stop == end;
}

template <typename Int>
bool GetNumber(const CIniEx2& ini, const std::string& section, const char* key, Int& out) {
    return ParseNumber(ini.Get(section, key), out);
}

void LogRegion(const Region& r) {
    Logger::Instance().Log(kLogLevelInfo, "Region %d - %d now %d, state %s", r.start,
                           r.start + r.length - 1, r.position, RegionStateName(r.state));
}

// The regions must lie inside the file and must not overlap.
bool RegionsFit(std::vector<Region> regions, int64_t totalBlocks) {
    std::sort(regions.begin(), regions.end(),
              [](const Region& a, const Region& b) { return a.start < b.start; });
    int64_t end = 0;
    for (const Region& r : regions) {
        if (r.start < 0 || r.length <= 0 || r.start < end) return false;
        end = int64_t{r.start} + r.length;
        if (end > totalBlocks) return false;
    }
    return true;
}

// "SetFilePointer" and "WriteFile" failed: the engine's log is kept in GBK like its other
// narrow texts ("失败" = failed, "开始关闭" = closing, "结束" = done).
constexpr const char* kSeekFailed = "SetFilePointer\xca\xa7\xb0\xdc!";
constexpr const char* kWriteFailed = "WriteFile\xca\xa7\xb0\xdc!";
constexpr const char* kClosing = "\xbf\xaa\xca\xbc\xb9\xd8\xb1\xd5m_hFile.";
constexpr const char* kClosed = "\xb9\xd8\xb1\xd5m_hFile\xbd\xe1\xca\xf8.";

}  // namespace

const char* RegionStateName(RegionState state) {
    switch (state) {
        case RegionState::Unscheduled:
            return "UNSCHEDULE";
        case RegionState::Confirmed:
            return "DLSAFE";
        case RegionState::Unconfirmed:
            return "DLUNSAFE";
        case RegionState::Downloading:
            return "DOWNLOADING";
    }
    return "UNKNOWN";
}

int64_t BlockCount(int64_t length, int32_t blockSize) {
    if (blockSize < 1 || blockSize > kMaxBlockSize || length < 0 || length > kMaxFileLength)
        return -1;
    const int64_t blocks = length / blockSize + (length % blockSize != 0 ? 1 : 0);
    return blocks <= kMaxBlocks ? blocks : -1;
}

ResumeFiles::ResumeFiles(std::string gbkTargetPath, platform::IFileSystem& fs)
    : target_(std::move(gbkTargetPath)), fs_(fs) {}

ResumeFiles::~ResumeFiles() { CloseData(); }

bool ResumeFiles::SaveDescription(const FileDescription& d) {
    CIniEx2 ini(fs_);
    ini.Load(DescriptionPath(), false);
    // Set refuses empty values: an empty MD5 or referer is simply absent and reads as "".
    auto set = [&](const char* key, const std::string& value) {
        return value.empty() || ini.Set(kInfo, key, value);
    };
    if (!set("BlockSize", std::to_string(d.blockSize)) ||
        !set("Length", std::to_string(d.length)) || !set("URL", d.url) || !set("MD5", d.md5) ||
        !set("Referer", d.referer) || !set("DlMode", std::to_string(d.downloadMode))) {
        return false;
    }
    return ini.Save();
}

bool ResumeFiles::LoadDescription(FileDescription& d) {
    CIniEx2 ini(fs_);
    if (!ini.Load(DescriptionPath(), true)) return false;
    FileDescription loaded;
    if (!GetNumber(ini, kInfo, "BlockSize", loaded.blockSize) ||
        !GetNumber(ini, kInfo, "Length", loaded.length) ||
        !GetNumber(ini, kInfo, "DlMode", loaded.downloadMode)) {
        return false;
    }
    if (BlockCount(loaded.length, loaded.blockSize) < 0) {
        Logger::Instance().Log(kLogLevelFileError,
                               "description of %s refused: %d-byte blocks, "
                               "length %lld",
                               target_.c_str(), loaded.blockSize,
                               static_cast<long long>(loaded.length));
        return false;
    }
    loaded.url = ini.Get(kInfo, "URL");
    loaded.referer = ini.Get(kInfo, "Referer");
    loaded.md5 = ini.Get(kInfo, "MD5");
    d = loaded;
    return true;
}

bool ResumeFiles::SaveRegionMap(const std::vector<Region>& regions) {
    CIniEx2 ini(fs_);
    ini.Load(RegionMapPath(), false);
    ini.Clear();  // rebuilt whole: no section of an older, longer map may survive
    int32_t completed = 0, open = 0;
    for (const Region& r : regions) {
        if (!r.completed()) continue;
        const std::string section = "Completed." + std::to_string(completed++);
        ini.Set(section, "Start", std::to_string(r.start));
        ini.Set(section, "Length", std::to_string(r.length));
        ini.Set(section, "From", std::to_string(r.from));
        ini.Set(section, "UseTime", std::to_string(r.useTime));
    }
    for (const Region& r : regions) {
        if (r.completed()) continue;
        const std::string section = "UnCompleted." + std::to_string(open++);
        ini.Set(section, "Start", std::to_string(r.start));
        ini.Set(section, "Length", std::to_string(r.length));
    }
    ini.Set(kInfo, "RegionCompleted", std::to_string(completed));
    ini.Set(kInfo, "RegionUnCompleted", std::to_string(open));
    return ini.Save();
}

bool ResumeFiles::LoadRegionMap(const FileDescription& d, std::vector<Region>& regions) {
    regions.clear();
    CIniEx2 ini(fs_);
    if (!ini.Load(RegionMapPath(), true)) return false;
    int32_t completed = 0, open = 0;
    const int64_t totalBlocks = BlockCount(d.length, d.blockSize);
    if (!GetNumber(ini, kInfo, "RegionCompleted", completed) ||
        !GetNumber(ini, kInfo, "RegionUnCompleted", open) || completed < 0 || open < 0 ||
        int64_t{completed} + open > kMaxRegions || totalBlocks < 0) {
        return false;
    }
    std::vector<Region> loaded;
    for (int32_t i = 0; i < completed + open; ++i) {
        const bool done = i < completed;
        const std::string section = done ? "Completed." + std::to_string(i)
                                         : "UnCompleted." + std::to_string(i - completed);
        Region r;
        if (!GetNumber(ini, section, "Start", r.start) ||
            !GetNumber(ini, section, "Length", r.length)) {
            return false;
        }
        if (done && (!GetNumber(ini, section, "From", r.from) ||
                     !GetNumber(ini, section, "UseTime", r.useTime))) {
            return false;
        }
        r.state = done ? RegionState::Confirmed : RegionState::Unscheduled;
        r.position = done ? r.start + std::max(r.length, 0) : r.start;
        loaded.push_back(r);
    }
    if (!RegionsFit(loaded, totalBlocks) || !DataHolds(loaded, d)) {
        Logger::Instance().Log(kLogLevelFileError, "region map of %s refused", target_.c_str());
        return false;
    }
    for (const Region& r : loaded) LogRegion(r);
    regions = std::move(loaded);
    return true;
}

bool ResumeFiles::DataHolds(const std::vector<Region>& regions, const FileDescription& d) {
    uint64_t size = 0;
    bool isDirectory = false;
    std::string native;
    if (!platform::NativePath(DataPath(), native) || fs_.Stat(native, size, isDirectory) != 0 ||
        isDirectory) {
        size = 0;
    }
    for (const Region& r : regions) {
        if (!r.completed()) continue;
        int64_t end = (int64_t{r.start} + r.length) * d.blockSize;
        if (d.length > 0) end = std::min(end, d.length);
        if (static_cast<uint64_t>(end) > size) return false;
    }
    return true;
}

bool ResumeFiles::OpenData() {
    CloseData();
    std::string native;
    if (!platform::NativePath(DataPath(), native)) return false;
    int e = fs_.Open(native, platform::FileOpenMode::kReadWrite, data_);
    if (e == ENOENT) e = fs_.Open(native, platform::FileOpenMode::kCreateReadWrite, data_);
    return e == 0;
}

int64_t ResumeFiles::WriteData(int64_t offset, const void* data, size_t size) {
    if (offset < 0) {
        Logger& log = Logger::Instance();
        log.Log(kLogLevelFileError, "%s", kSeekFailed);
        log.Log(kLogLevelFileError, "LowPart: %d HighPart: %d",
                static_cast<int32_t>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu),
                static_cast<int32_t>(static_cast<uint64_t>(offset) >> 32));
        return -1;
    }
    if (!data_ || data_->WriteAt(static_cast<uint64_t>(offset), data, size) != 0) {
        Logger::Instance().Log(kLogLevelFileError, "%s", kWriteFailed);
        return -1;
    }
    return static_cast<int64_t>(size);
}

void ResumeFiles::CloseData() {
    if (!data_) return;
    Logger::Instance().Log(kLogLevelInfo, "%s", kClosing);
    data_->Close();
    data_.reset();
    Logger::Instance().Log(kLogLevelInfo, "%s", kClosed);
}

bool ResumeFiles::RemoveIfPresent(const std::string& gbkPath) {
    std::string native;
    if (!platform::NativePath(gbkPath, native)) return false;
    const int e = fs_.Remove(native);
    return e == 0 || e == ENOENT;
}

bool ResumeFiles::Finish(bool keep) {
    const bool description = RemoveIfPresent(DescriptionPath());
    const bool map = RemoveIfPresent(RegionMapPath());
    CloseData();
    if (!keep) return RemoveIfPresent(DataPath()) && description && map;
    // The rename replaces an existing target in one step; when it cannot, the data stays
    // in the data file.
    std::string from, to;
    return platform::NativePath(DataPath(), from) && platform::NativePath(target_, to) &&
           fs_.Rename(from, to) == 0 && description && map;
}

}  // namespace engine
