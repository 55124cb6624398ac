// The argument vector that posix_spawn takes, shared by the process starters of platform/.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The program's path, its arguments, then the terminating null. The pointers borrow from
// `path` and `args`, which must outlive the spawn call.
inline std::vector<char*> SpawnArgv(const std::string& path, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

}  // namespace platform
