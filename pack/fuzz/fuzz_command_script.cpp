// Fuzz target: arbitrary bytes as the "(command)" script of a patch package. Besides not
// crashing, a parsed script written back line by line must parse to the same commands,
// since the patch tools write the scripts that the launcher reads.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "axp/command_script.h"
#include "testing/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace AXP;
    const auto commands =
        ParseCommandScript(std::string_view(reinterpret_cast<const char*>(data), size));
    std::string written;
    for (const ScriptCommand& c : commands) {
        (void)IsContainedName(c.packName);
        (void)IsContainedName(c.entryName);
        written += FormatScriptLine(c) + "\r\n";
    }
    const auto again = ParseCommandScript(written);
    fuzz_support::Require(again.size() == commands.size(), "a written script keeps its lines");
    for (size_t i = 0; i < commands.size(); ++i) {
        const ScriptCommand& a = commands[i];
        const ScriptCommand& b = again[i];
        fuzz_support::Require(a.operation == b.operation && a.packName == b.packName &&
                                  a.entryName == b.entryName && a.compressType == b.compressType &&
                                  a.unpackedSize == b.unpackedSize,
                              "a written command reads back unchanged");
    }
    return 0;
}
