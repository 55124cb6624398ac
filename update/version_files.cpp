#include "update/version_files.h"

#include "platform/text_file.h"
#include "update/position_key.h"

namespace {

constexpr size_t kFirstLineMax = 1023;

void DropLineEnd(std::string& s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
}

}  // namespace

bool ReadVersionFileText(std::string_view path, std::string& rawVersion) {
    std::string line;
    if (!platform::ReadFirstLine(path, kFirstLineMax, line)) return false;
    size_t bar = line.find('|');
    if (bar != std::string::npos) line.resize(bar);
    // A kept line end would only reach the last number, where it changes nothing, but it
    // has no place in a version shown to the user.
    DropLineEnd(line);
    rawVersion = line;
    return true;
}

bool ReadEditionIdText(std::string_view path, std::string& editionId) {
    std::string line;
    if (!platform::ReadFirstLine(path, kFirstLineMax, line)) return false;
    // The raw line end ends the read; unscrambling it would append a garbage byte.
    if (!line.empty() && line.back() == '\n') line.pop_back();
    ScrambleBuffer(line.data(), line.size());
    editionId = line;
    return true;
}

std::string ChooseEditionSection(std::string_view currentSection, std::string_view editionId,
                                 const std::function<bool(const std::string&)>& hasSection) {
    std::string section(currentSection.substr(0, currentSection.find('_')));
    section += '_';
    section += editionId;
    if (!hasSection(section)) section = kDefaultConfigSection;
    return section;
}
