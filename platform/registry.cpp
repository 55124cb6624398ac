#include "platform/registry.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <vector>

#include "platform/file_system.h"
#include "platform/native_path.h"
#include "platform/user_folders.h"

namespace platform {
namespace {

constexpr std::string_view kHeader = "QGREG 1\n";
// A store holds a handful of settings; anything larger is not one of ours.
constexpr uint64_t kMaxStoreBytes = 1 << 20;
// How long a writer waits for another process's change to finish.
constexpr int kLockAttempts = 500;
constexpr uint32_t kLockRetryMs = 10;

struct Entry {
    std::string key;
    std::string name;
    RegistryValue value;
};

// Key paths and value names fold like file names: ASCII letters only.
bool SameFolded(std::string_view a, std::string_view b) { return FileNamesEqual(a, b); }

// "\Software\\velko\" and "Software\velko" name the same key.
std::string NormalizeKey(std::string_view keyPath) {
    std::string key;
    for (size_t i = 0; i < keyPath.size(); ++i) {
        if (keyPath[i] == '\\' || keyPath[i] == '/') {
            if (!key.empty() && key.back() != '\\') key += '\\';
        } else {
            key += keyPath[i];
        }
    }
    if (!key.empty() && key.back() == '\\') key.pop_back();
    return key;
}

uint64_t Fnv1a(std::string_view bytes) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string Serialize(const std::vector<Entry>& entries) {
    std::string out(kHeader);
    for (const Entry& e : entries) {
        const std::string data =
            e.value.type == RegistryType::Dword ? std::to_string(e.value.number) : e.value.text;
        out += static_cast<char>(e.value.type);
        out += ' ' + std::to_string(e.key.size()) + ' ' + std::to_string(e.name.size()) + ' ' +
               std::to_string(data.size()) + '\n';
        out += e.key + e.name + data + '\n';
    }
    char trailer[64];
    std::snprintf(trailer, sizeof trailer, "end %zu %016llx\n", entries.size(),
                  static_cast<unsigned long long>(Fnv1a(out)));
    return out + trailer;
}

// Reads a decimal number ended by `stop` at `pos`; false on anything else.
bool TakeNumber(std::string_view text, size_t& pos, char stop, uint64_t& value) {
    const char* begin = text.data() + pos;
    const char* end = text.data() + text.size();
    auto [next, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || next == begin || next == end || *next != stop) return false;
    pos = static_cast<size_t>(next - text.data()) + 1;
    return true;
}

// The entries of a store file; false when it is not a whole, undamaged store.
bool Parse(std::string_view text, std::vector<Entry>& entries) {
    entries.clear();
    if (!text.starts_with(kHeader)) return false;
    size_t pos = kHeader.size();
    while (pos < text.size() && text[pos] != 'e') {
        const char type = text[pos];
        if ((type != 's' && type != 'd') || pos + 1 >= text.size() || text[pos + 1] != ' ') {
            return false;
        }
        pos += 2;
        uint64_t keyLen = 0, nameLen = 0, dataLen = 0;
        if (!TakeNumber(text, pos, ' ', keyLen) || !TakeNumber(text, pos, ' ', nameLen) ||
            !TakeNumber(text, pos, '\n', dataLen)) {
            return false;
        }
        const uint64_t left = text.size() - pos;
        if (keyLen > left || nameLen > left - keyLen || dataLen >= left - keyLen - nameLen) {
            return false;
        }
        Entry e;
        e.key.assign(text.substr(pos, keyLen));
        e.name.assign(text.substr(pos + keyLen, nameLen));
        const std::string_view data = text.substr(pos + keyLen + nameLen, dataLen);
        pos += keyLen + nameLen + dataLen;
        if (text[pos++] != '\n') return false;
        e.value.type = static_cast<RegistryType>(type);
        if (type == 'd') {
            size_t at = 0;
            uint64_t number = 0;
            const std::string terminated = std::string(data) + '\n';
            if (!TakeNumber(terminated, at, '\n', number) || number > UINT32_MAX) return false;
            e.value.number = static_cast<uint32_t>(number);
        } else {
            e.value.text.assign(data);
        }
        entries.push_back(std::move(e));
    }
    const std::string_view body = text.substr(0, pos);
    char trailer[64];
    std::snprintf(trailer, sizeof trailer, "end %zu %016llx\n", entries.size(),
                  static_cast<unsigned long long>(Fnv1a(body)));
    return text.substr(pos) == trailer;
}

// The entries of the file; a missing, oversized, unreadable or damaged file gives none.
std::vector<Entry> Load(IFileSystem& fs, const std::string& path) {
    std::vector<Entry> entries;
    std::unique_ptr<IFile> file;
    uint64_t size = 0;
    if (fs.Open(path, FileOpenMode::kRead, file) != 0 || file->GetSize(size) != 0 ||
        size > kMaxStoreBytes) {
        return entries;
    }
    std::string text(size, '\0');
    if (ReadExactAt(*file, 0, text.data(), text.size()) != 0 || !Parse(text, entries)) {
        entries.clear();
    }
    return entries;
}

// Creates the folders above `path` that are missing.
SysStatus CreateParents(IFileSystem& fs, const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        if (int e = fs.CreateDirectory(path.substr(0, slash))) return SysStatus::Failed("mkdir", e);
    }
    return SysStatus::Ok();
}

// An exclusive lock on "<store>.lock" between processes, released when it goes.
class StoreLock {
  public:
    explicit StoreLock(const std::string& storePath) {
        fd_ = open((storePath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            status_ = SysStatus::Failed("open lock", errno);
            return;
        }
        for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
            if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
            if (errno != EWOULDBLOCK && errno != EINTR) break;
            usleep(kLockRetryMs * 1000);
        }
        status_ = SysStatus::Failed("flock", errno);
    }
    ~StoreLock() {
        if (fd_ >= 0) close(fd_);
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    SysStatus status() const { return status_; }

  private:
    int fd_ = -1;
    SysStatus status_;
};

bool IsFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string RegistryFilePath(RegistryHive hive) {
    if (hive == RegistryHive::CurrentUser) {
        if (std::string path = EnvironmentValue("QG_REGISTRY_HKCU"); !path.empty()) return path;
        const std::string config = UserConfigFolder();
        return config.empty() ? "" : config + "/quillgate/registry";
    }
    if (std::string path = EnvironmentValue("QG_REGISTRY_HKLM"); !path.empty()) return path;
    if (IsFile("/etc/quillgate/registry")) return "/etc/quillgate/registry";
    return "/var/lib/quillgate/registry";
}

RegistryStore::RegistryStore(std::string nativeFilePath, IFileSystem& fs)
    : path_(std::move(nativeFilePath)), fs_(fs) {}

RegistryStore::RegistryStore(RegistryHive hive) : RegistryStore(RegistryFilePath(hive)) {}

std::optional<RegistryValue> RegistryStore::Read(std::string_view keyPath,
                                                 std::string_view valueName) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (path_.empty()) return std::nullopt;
    const std::string key = NormalizeKey(keyPath);
    for (Entry& e : Load(fs_, path_)) {
        if (SameFolded(e.key, key) && SameFolded(e.name, valueName)) return std::move(e.value);
    }
    return std::nullopt;
}

SysStatus RegistryStore::WriteString(std::string_view keyPath, std::string_view valueName,
                                     std::string_view gbkText) {
    RegistryValue value;
    value.type = RegistryType::String;
    value.text.assign(gbkText);
    return Change(keyPath, valueName, value);
}

SysStatus RegistryStore::WriteDword(std::string_view keyPath, std::string_view valueName,
                                    uint32_t number) {
    RegistryValue value;
    value.type = RegistryType::Dword;
    value.number = number;
    return Change(keyPath, valueName, value);
}

SysStatus RegistryStore::Delete(std::string_view keyPath, std::string_view valueName) {
    return Change(keyPath, valueName, std::nullopt);
}

SysStatus RegistryStore::Change(std::string_view keyPath, std::string_view valueName,
                                const std::optional<RegistryValue>& value) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (path_.empty()) return SysStatus::Failed("no store", ENOENT);
    const std::string key = NormalizeKey(keyPath);
    if (key.empty()) return SysStatus::Failed("key", EINVAL);
    if (SysStatus s = CreateParents(fs_, path_); !s) return s;
    StoreLock lock(path_);
    if (!lock.status()) return lock.status();

    std::vector<Entry> entries = Load(fs_, path_);
    bool found = false;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!SameFolded(entries[i].key, key) || !SameFolded(entries[i].name, valueName)) continue;
        found = true;
        if (value) {
            entries[i].value = *value;
        } else {
            entries.erase(entries.begin() + static_cast<ptrdiff_t>(i));
        }
        break;
    }
    if (!found) {
        if (!value) return SysStatus::Ok();
        entries.push_back(Entry{key, std::string(valueName), *value});
    }
    const std::string text = Serialize(entries);
    if (text.size() > kMaxStoreBytes) return SysStatus::Failed("store size", EFBIG);
    return WriteNativeFileReplacing(path_, text, fs_);
}

}  // namespace platform
