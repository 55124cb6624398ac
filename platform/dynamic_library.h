// Modules loaded at run time by path ("./SDO/sdologinentry.dll", "fmproxy.dll"): on this
// system they are ELF shared objects that keep the file names the client ships them under.
//
// Thread safety: the functions may be called from any thread; a handle must not be freed
// while another thread still uses a symbol of it.
#pragma once

#include <string>
#include <string_view>

namespace platform {

class DynamicLibrary {
  public:
    DynamicLibrary() = default;
    ~DynamicLibrary();  // frees the module when one is loaded
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Loads the module at `gbkPath` (resolved like every client path; a path without "/"
    // or "\" is taken from the current folder, never searched for), with every symbol bound
    // now and none shared with later modules. False with `error()` set when it cannot be
    // loaded; a module loaded before is freed first.
    bool Load(std::string_view gbkPath);
    // The address of an exported symbol; null when there is none (or nothing is loaded).
    void* Symbol(const char* name) const;
    void Free();

    bool loaded() const { return handle_ != nullptr; }
    const std::string& error() const { return error_; }

  private:
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace platform
