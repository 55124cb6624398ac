// Profile (INI) files read and written with the semantics of the Windows private-profile
// functions: section and key names compare case-insensitively, the first section and
// the first key of a name win, blanks around names and values are dropped, a value
// enclosed in matching quotes loses them, and writing creates the file.
// Which settings file is read with which of the three INI readers, and why their rules
// differ: docs/formats/README.md (Settings files).
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {

// Values are read into a buffer of this many bytes, so at most one less is returned.
constexpr size_t kProfileValueBuffer = 1024;

// The value of `key` in `section`, or `defaultValue` when the file, the section or the
// key is missing. At most kProfileValueBuffer - 1 bytes.
std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view defaultValue, std::string_view gbkPath);

// Every section name of the file, in file order. Empty when the file is missing.
std::vector<std::string> GetProfileSectionNames(std::string_view gbkPath);

// A profile file read and indexed once, for files read with many look-ups: the same
// answers as GetProfileString and GetProfileSectionNames, each look-up in constant time.
class ProfileDocument {
  public:
    // Reads the file; false when it cannot be read (the document is then empty).
    bool Load(std::string_view gbkPath);
    void Parse(const std::string& data);

    // Every section name, in file order (duplicates included, as the file lists them).
    const std::vector<std::string>& SectionNames() const { return sectionNames_; }
    // As GetProfileString: the first section of the name, its first key of the name.
    std::string Get(std::string_view section, std::string_view key,
                    std::string_view defaultValue) const;

  private:
    using Keys = std::unordered_map<std::string, std::string>;  // folded key -> value
    std::vector<std::string> sectionNames_;
    std::unordered_map<std::string, Keys> sections_;  // folded section name -> keys
};

// Sets `key` in `section` to `value`, adding the section or key when missing and creating
// the file when needed. The rest of the file is kept as it was. False when the file
// cannot be written.
bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        std::string_view gbkPath);

}  // namespace platform
