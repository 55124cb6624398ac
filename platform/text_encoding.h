// Conversions between the launcher's narrow strings (code page 936, GBK), the UTF-8 that
// Linux file names and the toolkit use, and UTF-16 for wide texts.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Decodes GBK bytes to UTF-8. Returns false (and leaves `out` empty) when the input holds
// a byte sequence that is not valid GBK, so that two different names never map to one.
bool GbkToUtf8(std::string_view gbk, std::string& out);

// Encodes UTF-8 as GBK. Returns false when the text is not valid UTF-8 or holds a
// character GBK cannot represent.
bool Utf8ToGbk(std::string_view utf8, std::string& out);

// Lossy forms for display: invalid input becomes U+FFFD (or "?" when encoding to GBK).
std::string GbkToUtf8Lossy(std::string_view gbk);
std::string Utf8ToGbkLossy(std::string_view utf8);

// UTF-16 (wide texts) <-> UTF-8. Unpaired surrogates and invalid UTF-8 become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);
std::u16string Utf8ToUtf16(std::string_view utf8);

// True for a GBK lead byte: the byte after it belongs to the same character.
inline bool IsGbkLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

}  // namespace platform
