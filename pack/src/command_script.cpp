#include "axp/command_script.h"

#include <cstdio>

#include "axp/name_hash.h"

namespace AXP {

namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        fields.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return fields;
        start = end + 1;
    }
}

// Strict decimal: anything else is "unknown", so that a damaged operation field can never
// read as a write.
uint32_t ParseDecimal(std::string_view field, uint32_t otherwise) {
    if (field.empty() || field.size() > 9) return otherwise;
    uint32_t value = 0;
    for (char c : field) {
        if (c < '0' || c > '9') return otherwise;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value;
}

// One to eight hexadecimal digits and nothing else ("%08X" writes eight).
bool ParseHex(std::string_view field, uint32_t& value) {
    if (field.empty() || field.size() > 8) return false;
    value = 0;
    for (char c : field) {
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            return false;
        value = value << 4 | digit;
    }
    return true;
}

}  // namespace

std::vector<ScriptCommand> ParseCommandScript(std::string_view text) {
    std::vector<ScriptCommand> commands;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        const std::vector<std::string_view> fields = Split(line, '|');
        if (fields.size() < 5) continue;
        ScriptCommand c;
        c.operation = ParseDecimal(fields[0], kOpUnknown);
        c.packName = NormaliseName(fields[1]);
        c.entryName = NormaliseName(fields[2]);
        // A damaged type or size must not pass as "stored" or as size 0: the whole line
        // becomes an unknown operation.
        c.compressType = ParseDecimal(fields[3], kOpUnknown);
        if (c.compressType == kOpUnknown || !ParseHex(fields[4], c.unpackedSize)) {
            c.operation = kOpUnknown;
            c.compressType = 0;
        }
        commands.push_back(std::move(c));
    }
    return commands;
}

std::string FormatScriptLine(const ScriptCommand& command) {
    char size[16];
    std::snprintf(size, sizeof(size), "%08X", command.unpackedSize);
    return std::to_string(command.operation) + "|" + command.packName + "|" + command.entryName +
           "|" + std::to_string(command.compressType) + "|" + size;
}

bool IsContainedName(std::string_view name) {
    if (name.empty() || name[0] == '/') return false;
    const auto letter = static_cast<unsigned char>(name[0]);
    if (name.size() >= 2 && name[1] == ':' &&
        ((letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z'))) {
        return false;
    }
    // GBK trail bytes are never "/" or ".", so splitting the bytes finds every component.
    for (std::string_view component : Split(name, '/')) {
        if (component == "..") return false;
    }
    return true;
}

}  // namespace AXP
