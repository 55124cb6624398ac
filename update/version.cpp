#include "update/version.h"

#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "update/string_split.h"

namespace {

// atoi without its undefined behaviour on overflow: leading blanks, a sign, then digits.
int ReadLeadingInt(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long long value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        value = value * 10 + (s[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

// Splits "a.b.c" into three integers; false when the text is not of that form.
bool SplitNumber(const std::string& number, std::array<long long, 3>& parts) {
    const char* p = number.c_str();
    for (int k = 0; k < 3; ++k) {
        char* end = nullptr;
        if (*p == '\0') return false;
        parts[k] = std::strtoll(p, &end, 10);
        if (end == p) return false;
        if (k < 2) {
            if (*end != '.') return false;
            p = end + 1;
        } else if (*end != '\0') {
            return false;
        }
    }
    return true;
}

}  // namespace

VersionNumber ParseVersion(std::string_view text) {
    std::vector<std::string_view> tokens = SplitNonEmpty(text, '.');
    while (tokens.size() < 4) tokens.push_back("0");

    VersionNumber v;
    v.tag.assign(tokens[0].substr(0, kVersionTagMax));
    for (char& c : v.tag) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    char number[64];
    std::snprintf(number, sizeof(number), "%05d.%05d.%05d", ReadLeadingInt(tokens[1]),
                  ReadLeadingInt(tokens[2]), ReadLeadingInt(tokens[3]));
    v.number = number;
    return v;
}

CompareResult CompareVersion(const VersionNumber& a, const VersionNumber& b) {
    if (a.tag != b.tag) return CompareResult::Incomparable;
    std::array<long long, 3> x{}, y{};
    if (SplitNumber(a.number, x) && SplitNumber(b.number, y)) {
        if (x == y) return CompareResult::Same;
        return x < y ? CompareResult::Older : CompareResult::Newer;
    }
    // Not of the printed form (an empty number, for one): plain byte comparison.
    int r = std::strcmp(a.number.c_str(), b.number.c_str());
    if (r == 0) return CompareResult::Same;
    return r < 0 ? CompareResult::Older : CompareResult::Newer;
}
