// Plain values shared by the window classes, free of any toolkit type.
#pragma once

#include <cstdint>

namespace platform::ui {

// Pixels, relative to the parent's client area.
struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool Contains(int px, int py) const {
        return px >= x && py >= y && px < x + width && py < y + height;
    }
};

// A colour as the skin's colour values store it: 0x00BBGGRR.
using Colour = uint32_t;
inline constexpr uint8_t RedOf(Colour c) { return c & 0xFF; }
inline constexpr uint8_t GreenOf(Colour c) { return (c >> 8) & 0xFF; }
inline constexpr uint8_t BlueOf(Colour c) { return (c >> 16) & 0xFF; }

}  // namespace platform::ui
