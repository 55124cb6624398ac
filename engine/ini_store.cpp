#include "engine/ini_store.h"

#include "platform/file_system.h"
#include "platform/native_path.h"

namespace {

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos;
}

}  // namespace

bool CIniEx2::Load(const std::string& gbkPath, bool mustExist) {
    sections_.clear();
    path_ = gbkPath;
    std::string native;
    std::unique_ptr<platform::IFile> file;
    if (!platform::NativePath(gbkPath, native) ||
        fs_.Open(native, platform::FileOpenMode::kRead, file) != 0) {
        return !mustExist;
    }
    uint64_t size = 0;
    if (file->GetSize(size) != 0 || size > kMaxFileSize) return false;
    std::string text(static_cast<size_t>(size), '\0');
    if (platform::ReadExactAt(*file, 0, text.data(), text.size()) != 0) return false;
    Parse(text);
    return true;
}

void CIniEx2::Parse(std::string_view text) {
    Section* current = &sections_[""];
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == text.npos ? text.size() : end + 1);
        if (line.size() - (!line.empty() && line.back() == '\r') > kMaxLine) continue;
        line = line.substr(0, line.find_first_of(std::string_view("\r\0", 2)));
        if (line.empty()) continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            current = &sections_[std::string(line.substr(1, line.size() - 2))];
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == line.npos || equals == 0 || equals + 1 == line.size()) continue;
        (*current)[std::string(line.substr(0, equals))] = std::string(line.substr(equals + 1));
    }
}

std::string CIniEx2::Get(const std::string& section, const std::string& key) const {
    auto s = sections_.find(section);
    if (s == sections_.end()) return {};
    auto k = s->second.find(key);
    return k == s->second.end() ? std::string() : k->second;
}

bool CIniEx2::Set(const std::string& section, const std::string& key, const std::string& value) {
    // A key that begins with "[" could read back as a section header ("[a=b]").
    if (HasLineBreakOrNul(section) || section.size() + 2 > kMaxLine || key.empty() ||
        key.front() == '[' || HasLineBreakOrNul(key) || key.find('=') != key.npos ||
        value.empty() || HasLineBreakOrNul(value) || key.size() + 1 + value.size() > kMaxLine) {
        return false;
    }
    sections_[section][key] = value;
    return true;
}

std::string CIniEx2::Serialize() const {
    std::string text;
    for (const auto& [name, keys] : sections_) {
        if (keys.empty()) continue;
        text += "[" + name + "]\r\n";
        for (const auto& [key, value] : keys) text += key + "=" + value + "\r\n";
        text += "\r\n";
    }
    return text;
}

bool CIniEx2::Save() {
    return static_cast<bool>(platform::WriteFileReplacing(path_, Serialize(), false, fs_));
}
