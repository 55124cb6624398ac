#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include "platform/native_path.h"

namespace platform {

DynamicLibrary::~DynamicLibrary() { Free(); }

bool DynamicLibrary::Load(std::string_view gbkPath) {
    Free();
    error_.clear();
    std::string native;
    if (!NativePath(gbkPath, native)) {
        error_ = "path is not valid GBK";
        return false;
    }
    // A bare name would make the loader search the system's library folders.
    if (native.find('/') == std::string::npos) native = "./" + native;
    handle_ = dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* text = dlerror();
        error_ = text != nullptr ? text : "dlopen failed";
        return false;
    }
    return true;
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return dlsym(handle_, name);
}

void DynamicLibrary::Free() {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
}

}  // namespace platform
