// Helpers of the window tests: a display (scripts/test runs them under Xvfb), a skin of
// solid colours, and the colour a widget paints at a point.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "platform/ui/ui_types.h"

namespace ui_test {

// Initialises the toolkit once; fails the test when there is no display.
void RequireDisplay();

// Writes "<id>.png" of `size` in each colour (0xRRGGBB) into `folder`.
void WriteSolidSkin(const std::string& folder, const std::map<int, uint32_t>& colours, int width,
                    int height);

// Draws the toolkit widget (GtkWidget*) into an image and returns the pixel at (x, y)
// of it as 0xRRGGBB.
uint32_t PixelOf(void* widget, int x, int y);

// Runs the toolkit's pending work.
void Settle();

// Runs the toolkit's loop until `done` holds; false when it did not within `timeoutMs`
// (a time-out, not a measurement: tests never assert on time).
bool RunUntil(const std::function<bool()>& done, int timeoutMs = 20000);

}  // namespace ui_test
