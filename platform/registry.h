// A small registry: typed values (string or DWORD) under backslash-separated key paths
// ("Software\velko\firstrun"), kept in one file per hive. Key paths and value names match
// case-insensitively (ASCII letters fold) and keep the case they were first written with.
//
// Files (native paths):
// - HKEY_CURRENT_USER: $QG_REGISTRY_HKCU, else UserConfigFolder() + "/quillgate/registry".
// - HKEY_LOCAL_MACHINE: $QG_REGISTRY_HKLM, else "/etc/quillgate/registry" when it exists,
//   else "/var/lib/quillgate/registry".
//
// Every change rewrites the whole file beside it, flushes it and renames it over the old
// one, under an exclusive lock on "<file>.lock", so another process sees the old or the
// new store, never a part, and two writers do not lose each other's values. A file that
// is missing, too large or damaged reads as an empty store; the next write replaces it.
//
// Errors: a SysStatus for changes; reads answer an empty optional when there is no value.
// Thread safety: one RegistryStore may be used from several threads.
// The format, field by field: docs/formats/registry-store.md
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file.h"
#include "platform/sys_status.h"

namespace platform {

enum class RegistryHive { CurrentUser, LocalMachine };

enum class RegistryType : char { String = 's', Dword = 'd' };

struct RegistryValue {
    RegistryType type = RegistryType::String;
    std::string text;     // String: GBK bytes, without a terminating NUL
    uint32_t number = 0;  // Dword
};

// The store file of a hive, as described above.
std::string RegistryFilePath(RegistryHive hive);

class RegistryStore {
  public:
    explicit RegistryStore(std::string nativeFilePath, IFileSystem& fs = PosixFileSystem());
    // The store of a hive (RegistryFilePath).
    explicit RegistryStore(RegistryHive hive);

    std::optional<RegistryValue> Read(std::string_view keyPath, std::string_view valueName);
    SysStatus WriteString(std::string_view keyPath, std::string_view valueName,
                          std::string_view gbkText);
    SysStatus WriteDword(std::string_view keyPath, std::string_view valueName, uint32_t number);
    // Deleting a value that does not exist succeeds.
    SysStatus Delete(std::string_view keyPath, std::string_view valueName);

    const std::string& filePath() const { return path_; }

  private:
    SysStatus Change(std::string_view keyPath, std::string_view valueName,
                     const std::optional<RegistryValue>& value);

    std::string path_;
    IFileSystem& fs_;
    std::mutex mutex_;
};

}  // namespace platform
