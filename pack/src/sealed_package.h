// Private: decoding sealed packages (axp/package_form.h) to disk in bounded chunks.
#pragma once

#include <string_view>

namespace AXP {

// Decodes the sealed package `source` into `destination`: the inverted zip it holds, or
// with `complement` the plain zip. The output goes to "<destination>.~part", which replaces
// `destination` only when complete, so a failed decode leaves no file behind and `source`
// may name `destination`. Memory stays bounded whatever the header claims.
// Errors: 2 for a file that is no sealed package or whose decoded size its data cannot
// hold (refused before anything is written); 19 for data that does not decode; 12 "...
// disk full (errno=28)" when the size does not fit on the disk or a write meets a full
// disk; 3 or 5 with the errno for other create or write failures; 4 for read failures.
bool DecodeSealedPackage(std::string_view source, std::string_view destination, bool complement);

}  // namespace AXP
