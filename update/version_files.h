// The local files that carry versions: ".ver" (the installed client version) and
// "ver.id" (the scrambled edition identifier that picks the configuration section).
#pragma once

#include <functional>
#include <string>
#include <string_view>

inline constexpr const char* kLocalVersionFile = ".ver";
inline constexpr const char* kEditionIdFile = "ver.id";
inline constexpr const char* kDefaultConfigSection = "quillgate";

// Reads the installed version text: the first line of `path` (at most 1023 characters),
// cut at the first "|", without its line end. False when the file cannot be opened.
bool ReadVersionFileText(std::string_view path, std::string& rawVersion);

// Reads the edition identifier: the first line of `path` (at most 1023 characters),
// unscrambled with the position key. The file's own line end is not part of the
// scrambled text and is dropped. False when the file is missing.
bool ReadEditionIdText(std::string_view path, std::string& editionId);

// The configuration section for an edition: the current name cut before its first "_",
// then "_" and the identifier; "quillgate" when the configuration has no such section.
std::string ChooseEditionSection(std::string_view currentSection, std::string_view editionId,
                                 const std::function<bool(const std::string&)>& hasSection);
