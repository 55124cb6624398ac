#include "platform/machine_id.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "platform/digest.h"

namespace platform {
namespace {

// Files here are a few bytes; a larger one is not what we expect and is left out.
constexpr std::streamsize kMaxFactBytes = 4096;

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text(kMaxFactBytes + 1, '\0');
    in.read(text.data(), kMaxFactBytes + 1);
    const std::streamsize got = in.gcount();
    if (got <= 0 || got > kMaxFactBytes) return {};
    text.resize(static_cast<size_t>(got));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (!dir) return names;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());  // readdir order is not stable across boots
    return names;
}

std::string InstallationId(const std::string& root) {
    std::string id = ReadSmallFile(root + "/etc/machine-id");
    if (id.empty()) id = ReadSmallFile(root + "/var/lib/dbus/machine-id");
    return id;
}

// The first interface in name order that is not the loopback and has a real address.
std::string HardwareAddress(const std::string& root) {
    const std::string base = root + "/sys/class/net";
    for (const std::string& name : ListFolder(base)) {
        if (name == "lo") continue;
        const std::string address = ReadSmallFile(base + "/" + name + "/address");
        if (address.empty() || address == "00:00:00:00:00:00") continue;
        return address;
    }
    return {};
}

// The serial of the first disk in name order that reports one.
std::string DiskSerial(const std::string& root) {
    const std::string base = root + "/sys/block";
    for (const std::string& name : ListFolder(base)) {
        if (name.rfind("loop", 0) == 0 || name.rfind("ram", 0) == 0) continue;
        std::string serial = ReadSmallFile(base + "/" + name + "/device/serial");
        if (serial.empty()) serial = ReadSmallFile(base + "/" + name + "/serial");
        if (!serial.empty()) return serial;
    }
    return {};
}

}  // namespace

MachineId ComputeMachineId(const std::string& root) {
    // Each fact is labelled, so that moving a value from one fact to another changes the
    // digest, and a missing fact does not shift the others.
    std::string facts;
    const auto add = [&facts](const char* label, const std::string& value) {
        if (value.empty()) return;
        facts += label;
        facts += '=';
        facts += value;
        facts += '\n';
    };
    add("machine", InstallationId(root));
    add("mac", HardwareAddress(root));
    add("disk", DiskSerial(root));

    return Md5Of(facts);
}

std::string MachineIdText(const MachineId& id) {
    char text[33];
    uint32_t words[4];
    for (int w = 0; w < 4; ++w) {
        words[w] = static_cast<uint32_t>(id[w * 4]) | static_cast<uint32_t>(id[w * 4 + 1]) << 8 |
                   static_cast<uint32_t>(id[w * 4 + 2]) << 16 |
                   static_cast<uint32_t>(id[w * 4 + 3]) << 24;
    }
    std::snprintf(text, sizeof text, "%08X%08X%08X%08X", words[0], words[1], words[2], words[3]);
    return text;
}

}  // namespace platform
