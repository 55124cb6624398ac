// A process table of a test's own, laid out as /proc with the files the launcher reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fake_proc {

namespace fs = std::filesystem;

struct FakeProcess {
    uint32_t id;
    std::string exe;  // target of the "exe" link; empty: unreadable
    std::vector<std::string> argv;
    std::vector<std::string> environment;  // "NAME=value"
};

inline void Write(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string Joined(const std::vector<std::string>& parts) {
    std::string s;
    for (const std::string& p : parts) s += p + '\0';
    return s;
}

// One folder of a process table of the test's own, with the files that are read.
inline void Add(const fs::path& procRoot, const FakeProcess& p) {
    const fs::path dir = procRoot / std::to_string(p.id);
    fs::create_directories(dir);
    if (!p.exe.empty()) fs::create_symlink(p.exe, dir / "exe");
    Write(dir / "cmdline", Joined(p.argv));
    Write(dir / "comm", "qadr.exe\n");
    Write(dir / "environ", Joined(p.environment));
    Write(dir / "status", "Name:\tqadr.exe\nUid:\t0\t0\t0\t0\n");
}

}  // namespace fake_proc
