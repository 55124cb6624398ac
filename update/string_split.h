// Splitting of small texts at a separator, as version texts and server lists need it.
#pragma once

#include <string_view>
#include <vector>

// The pieces of `text` between `separator` characters, empty pieces dropped.
inline std::vector<std::string_view> SplitNonEmpty(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(separator, pos);
        if (end == std::string_view::npos) end = text.size();
        if (end > pos) pieces.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return pieces;
}
