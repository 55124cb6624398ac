// One JSON object written as one line, field by field, for programs that report to other
// programs (`quillgate --headless --json`, `qg-get --json`). Texts are UTF-8; a byte that
// is not part of a valid UTF-8 sequence becomes U+FFFD, so that every line parses. Header
// only, like program_options.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

class JsonLine {
  public:
    JsonLine& Text(const char* key, std::string_view utf8) {
        Key(key);
        AppendString(utf8);
        return *this;
    }
    JsonLine& Number(const char* key, int64_t value) {
        Key(key);
        text_ += std::to_string(value);
        return *this;
    }
    JsonLine& Bool(const char* key, bool value) {
        Key(key);
        text_ += value ? "true" : "false";
        return *this;
    }
    // The object, without a line end.
    std::string str() const { return text_ + "}"; }
    // Writes the object and a line end, and flushes: a reader sees each event as it happens.
    void WriteTo(std::FILE* out) const {
        std::fputs(str().c_str(), out);
        std::fputc('\n', out);
        std::fflush(out);
    }

  private:
    void Key(const char* key) {
        text_ += text_.size() > 1 ? "," : "";
        AppendString(key);
        text_ += ':';
    }
    // The length of the valid UTF-8 sequence at the start of `s`, or 0.
    static size_t SequenceLength(std::string_view s) {
        const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
        const unsigned char lead = b(0);
        size_t length = 0;
        uint32_t min = 0;
        uint32_t code = 0;
        if (lead < 0x80) return 1;
        if (lead >= 0xC2 && lead <= 0xDF) length = 2, min = 0x80, code = lead & 0x1F;
        if (lead >= 0xE0 && lead <= 0xEF) length = 3, min = 0x800, code = lead & 0x0F;
        if (lead >= 0xF0 && lead <= 0xF4) length = 4, min = 0x10000, code = lead & 0x07;
        if (length == 0 || s.size() < length) return 0;
        for (size_t i = 1; i < length; ++i) {
            if ((b(i) & 0xC0) != 0x80) return 0;
            code = code << 6 | (b(i) & 0x3F);
        }
        const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
        return code < min || code > 0x10FFFF || surrogate ? 0 : length;
    }
    void AppendString(std::string_view s) {
        text_ += '"';
        while (!s.empty()) {
            const size_t length = SequenceLength(s);
            const unsigned char c = static_cast<unsigned char>(s[0]);
            if (length == 0) {
                text_ += "\\ufffd";
                s.remove_prefix(1);
                continue;
            }
            if (c == '"' || c == '\\') {
                text_ += '\\';
                text_ += static_cast<char>(c);
            } else if (c < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                text_ += escaped;
            } else {
                text_.append(s.data(), length);
            }
            s.remove_prefix(length);
        }
        text_ += '"';
    }

    std::string text_ = "{";
};

}  // namespace platform
