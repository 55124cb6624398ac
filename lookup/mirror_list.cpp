#include "lookup/mirror_list.h"

#include <strings.h>

#include <charconv>
#include <cstring>
#include <memory>

#include "lookup/protocol.h"
#include "platform/file.h"

namespace lookup {
namespace {

bool HasSourceScheme(std::string_view url) {
    for (std::string_view scheme : {"http://", "https://", "ftp://"}) {
        if (url.size() > scheme.size() &&
            strncasecmp(url.data(), scheme.data(), scheme.size()) == 0) {
            return true;
        }
    }
    return false;
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while (true) {
        at = line.find_first_not_of(" \t\r", at);
        if (at == line.npos) return words;
        const size_t end = line.find_first_of(" \t\r", at);
        words.push_back(line.substr(at, end - at));
        if (end == line.npos) return words;
        at = end;
    }
}

bool ParseLine(std::string_view line, MirroredFile& file, std::string& why) {
    bool haveLength = false;
    for (std::string_view word : Words(line)) {
        const size_t equals = word.find('=');
        const std::string_view name = word.substr(0, equals);
        const std::string_view value = equals == word.npos ? "" : word.substr(equals + 1);
        if (name == "md5" && file.md5.empty() && IsHexDigest(value)) {
            for (char c : value) file.md5 += static_cast<char>(c >= 'A' && c <= 'F' ? c + 32 : c);
        } else if (name == "length" && !haveLength) {
            int64_t length = -1;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), length);
            if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
                length < 0 || length > kMaxFileLength) {
                why = "length is not a size up to 4 TiB";
                return false;
            }
            file.length = length;
            haveLength = true;
        } else if (name == "url") {
            if (!IsPlainUrl(value) || !HasSourceScheme(value)) {
                why = "url is not an http, https or ftp URL without blanks";
                return false;
            }
            file.urls.emplace_back(value);
        } else {
            why = "unknown or repeated field \"" + std::string(name.substr(0, 32)) + "\"";
            return false;
        }
    }
    if (!haveLength || file.urls.empty()) {
        why = "a file needs length= and at least one url=";
        return false;
    }
    return true;
}

}  // namespace

bool MirrorList::Parse(std::string_view text, std::string& reason) {
    MirrorList list;
    size_t number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == text.npos ? text.size() : end + 1);
        ++number;
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == line.npos || line[first] == '#') continue;
        MirroredFile file;
        std::string why;
        if (!ParseLine(line, file, why)) {
            reason = "line " + std::to_string(number) + ": " + why;
            return false;
        }
        const size_t index = list.files_.size();
        if (!file.md5.empty() && !list.byMd5_.emplace(file.md5, index).second) {
            reason = "line " + std::to_string(number) + ": md5 listed twice";
            return false;
        }
        for (const std::string& url : file.urls) list.byUrl_.emplace(url, index);
        list.files_.push_back(std::move(file));
    }
    *this = std::move(list);
    return true;
}

bool MirrorList::Load(const std::string& path, std::string& reason) {
    platform::IFileSystem& disk = platform::PosixFileSystem();
    std::unique_ptr<platform::IFile> file;
    uint64_t size = 0;
    std::string text;
    size_t got = 0;
    int error = disk.Open(path, platform::FileOpenMode::kRead, file);
    if (error == 0) error = file->GetSize(size);
    if (error == 0 && size > kMaxMirrorFileBytes) {
        reason = path + " is larger than 64 MiB";
        return false;
    }
    if (error == 0) {
        text.resize(static_cast<size_t>(size));
        error = file->ReadAt(0, text.data(), text.size(), got);
    }
    if (error != 0 || got != text.size()) {
        reason =
            "cannot read " + path + (error != 0 ? ": " + std::string(std::strerror(error)) : "");
        return false;
    }
    if (!Parse(text, reason)) {
        reason = path + ": " + reason;
        return false;
    }
    return true;
}

const MirroredFile* MirrorList::ByMd5(const std::string& md5) const {
    const auto found = byMd5_.find(md5);
    return found == byMd5_.end() ? nullptr : &files_[found->second];
}

const MirroredFile* MirrorList::ByUrl(const std::string& url) const {
    const auto found = byUrl_.find(url);
    return found == byUrl_.end() ? nullptr : &files_[found->second];
}

}  // namespace lookup
