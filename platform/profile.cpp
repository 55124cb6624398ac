#include "platform/profile.h"

#include <cstdio>
#include <optional>

#include "platform/native_path.h"
#include "platform/text_file.h"

namespace platform {
namespace {

struct Line {
    std::string text;  // without its line end
    enum Kind { kOther, kSection, kKey } kind = kOther;
    std::string name;   // section or key name, trimmed
    std::string value;  // key value, trimmed and unquoted
};

std::string_view Trim(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::vector<Line> ParseLines(const std::string& data) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t end = data.find('\n', pos);
        if (end == std::string::npos) end = data.size();
        Line line;
        line.text = data.substr(pos, end - pos);
        if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
        pos = end + 1;

        std::string_view t = Trim(line.text);
        if (!t.empty() && t.front() == '[') {
            size_t close = t.find(']');
            line.kind = Line::kSection;
            line.name = Trim(t.substr(1, close == std::string_view::npos ? t.npos : close - 1));
        } else if (!t.empty() && t.front() != ';') {
            size_t eq = t.find('=');
            if (eq != std::string_view::npos) {
                line.kind = Line::kKey;
                line.name = Trim(t.substr(0, eq));
                std::string_view v = Trim(t.substr(eq + 1));
                if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') &&
                    v.back() == v.front())
                    v = v.substr(1, v.size() - 2);
                line.value = v;
            }
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

bool ReadLines(std::string_view gbkPath, std::vector<Line>& lines) {
    std::string data;
    if (!ReadWholeFile(gbkPath, data)) return false;
    lines = ParseLines(data);
    return true;
}

// Index range [begin, end) of the lines of the first section named `section`.
std::optional<std::pair<size_t, size_t>> FindSection(const std::vector<Line>& lines,
                                                     std::string_view section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != Line::kSection || !FileNamesEqual(lines[i].name, section)) continue;
        size_t end = i + 1;
        while (end < lines.size() && lines[end].kind != Line::kSection) ++end;
        return std::make_pair(i + 1, end);
    }
    return std::nullopt;
}

// Names compare as the profile functions compare them: ASCII letters without case.
std::string FoldName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return folded;
}

}  // namespace

bool ProfileDocument::Load(std::string_view gbkPath) {
    std::string data;
    const bool read = ReadWholeFile(gbkPath, data).ok();
    Parse(read ? data : std::string());
    return read;
}

void ProfileDocument::Parse(const std::string& data) {
    sectionNames_.clear();
    sections_.clear();
    Keys* current = nullptr;  // null outside a section, or in a repeated one (never read)
    for (Line& line : ParseLines(data)) {
        if (line.kind == Line::kSection) {
            auto [it, added] = sections_.try_emplace(FoldName(line.name));
            current = added ? &it->second : nullptr;
            sectionNames_.push_back(std::move(line.name));
        } else if (line.kind == Line::kKey && current != nullptr) {
            current->try_emplace(FoldName(line.name), std::move(line.value));
        }
    }
}

std::string ProfileDocument::Get(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
    std::string result(defaultValue);
    const auto s = sections_.find(FoldName(section));
    if (s != sections_.end()) {
        const auto k = s->second.find(FoldName(key));
        if (k != s->second.end()) result = k->second;
    }
    if (result.size() > kProfileValueBuffer - 1) result.resize(kProfileValueBuffer - 1);
    return result;
}

std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view defaultValue, std::string_view gbkPath) {
    ProfileDocument document;
    document.Load(gbkPath);
    return document.Get(section, key, defaultValue);
}

std::vector<std::string> GetProfileSectionNames(std::string_view gbkPath) {
    ProfileDocument document;
    document.Load(gbkPath);
    return document.SectionNames();
}

bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        std::string_view gbkPath) {
    std::vector<Line> lines;
    ReadLines(gbkPath, lines);  // a missing file starts empty
    std::string entry = std::string(key) + "=" + std::string(value);
    auto range = FindSection(lines, section);
    if (!range) {
        lines.push_back(Line{"[" + std::string(section) + "]"});
        lines.push_back(Line{entry});
    } else {
        size_t insertAt = range->first;
        bool replaced = false;
        for (size_t i = range->first; i < range->second; ++i) {
            if (lines[i].kind != Line::kKey) continue;
            if (FileNamesEqual(lines[i].name, key)) {
                lines[i].text = entry;
                replaced = true;
                break;
            }
            insertAt = i + 1;
        }
        if (!replaced) lines.insert(lines.begin() + static_cast<long>(insertAt), Line{entry});
    }

    std::string native;
    if (!NativePath(gbkPath, native)) return false;
    // Written beside the file and renamed over it, so that a failed write never leaves
    // a half-written profile behind.
    const std::string temp = native + ".tmp";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = true;
    for (const Line& line : lines) {
        ok = ok && std::fputs(line.text.c_str(), f) >= 0 && std::fputs("\r\n", f) >= 0;
    }
    ok = std::fclose(f) == 0 && ok;
    if (ok) ok = std::rename(temp.c_str(), native.c_str()) == 0;
    if (!ok) std::remove(temp.c_str());
    return ok;
}

}  // namespace platform
