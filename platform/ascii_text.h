// ASCII letter case in narrow text: GBK bytes, hex digests, URL schemes, protocol names.
// Only A-Z and a-z fold; every other byte (a GBK lead or trail byte too) stays as it is.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Equal once ASCII letters are folded.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
// A-Z to a-z.
std::string LowerAscii(std::string text);

}  // namespace platform
