// CIniEx2: the minimal INI-style store of the engine's resume-state files.
//
// File form, as written: for each section in ascending byte order that has keys,
// "[NAME]\r\n", one "KEY=VALUE\r\n" per key in ascending order, then "\r\n".
// Reading: lines end at LF and are cut at their first CR (or NUL); empty lines are
// skipped; "[NAME]" opens a section; any other line splits at its first "=" and counts
// only when both sides are non-empty (a later key replaces an earlier one). Lines before
// the first section belong to the section "". A line longer than kMaxLine bytes is
// dropped whole, so that no tail of it can pass for a line of its own.
//
// Saving writes beside the file, flushes and renames over it: a save cut short by a
// crash leaves the previous file whole.
//
// Not thread safe: one store belongs to one task thread.
// The format, field by field: docs/formats/resume-state.md; beside the other INI readers:
// docs/formats/README.md (Settings files).
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "platform/file.h"

class CIniEx2 {
  public:
    static constexpr size_t kMaxLine = 4095;
    // A state file larger than this is not read (a region map holds a few lines a region).
    static constexpr uint64_t kMaxFileSize = 16u << 20;

    using Section = std::map<std::string, std::string>;

    explicit CIniEx2(platform::IFileSystem& fs = platform::PosixFileSystem()) : fs_(fs) {}

    // Clears the store, remembers `gbkPath` and reads the file. A file that cannot be
    // opened gives true unless `mustExist`; a file that cannot be read whole (or is over
    // kMaxFileSize) gives false and leaves the store empty.
    bool Load(const std::string& gbkPath, bool mustExist);
    // The value, or "" when the section or key is absent.
    std::string Get(const std::string& section, const std::string& key) const;
    // Creates the section and key as needed. Refuses (false, nothing stored) a text that
    // could not be read back as it was set: a CR, LF or NUL anywhere, an empty key, one
    // holding "=" or beginning with "[", an empty value, a line over kMaxLine.
    bool Set(const std::string& section, const std::string& key, const std::string& value);
    // Writes the whole store to the remembered path; false when it could not be written.
    bool Save();

    // The store's text form, and the reading of one (for Load, Save and the tests).
    std::string Serialize() const;
    void Parse(std::string_view text);

    const std::map<std::string, Section>& sections() const { return sections_; }
    void Clear() { sections_.clear(); }

  private:
    platform::IFileSystem& fs_;
    std::string path_;
    std::map<std::string, Section> sections_;
};
