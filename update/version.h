// Version numbers of the client, the launcher and the published patches.
//
// Text form: a tag and up to three decimal numbers separated by "." ("CN.9.0"). The parsed
// form keeps the upper-cased tag and the numbers printed "%05d.%05d.%05d", which is what
// the comparison and the patch-information file work with.
#pragma once

#include <string>
#include <string_view>

struct VersionNumber {
    std::string tag;     // upper-cased, at most 127 characters
    std::string number;  // "%05d.%05d.%05d"; empty means no version is known
};

enum class CompareResult {
    Incomparable = 0,  // the tags differ
    Older = 1,         // same tag, left number lower
    Same = 2,
    Newer = 3,  // same tag, left number higher
};

// The launcher's own built-in version.
inline constexpr const char* kLauncherVersionText = "CN.9.0";

constexpr size_t kVersionTagMax = 127;
constexpr size_t kVersionNumberMax = 63;

// Parses "tag.n1.n2.n3": empty fields are dropped, missing ones count 0, fields past the
// fourth are ignored; each number is read as atoi reads it (a field without leading digits
// counts 0; values beyond the 32-bit range saturate).
VersionNumber ParseVersion(std::string_view text);

// a relative to b. Numbers are compared component by component as integers, which equals
// the comparison of the zero-padded text for every component from 0 to 99999 and stays
// right for larger or negative components, where the padded text alone would not.
CompareResult CompareVersion(const VersionNumber& a, const VersionNumber& b);
