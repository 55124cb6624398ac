#include "pack_io.h"

#include <errno.h>

#include "axp/error.h"
#include "platform/native_path.h"

namespace AXP {

std::string ToNativePath(std::string_view gbkPath) {
    std::string native;
    if (platform::NativePath(gbkPath, native)) return native;
    return std::string(gbkPath);
}

bool IsDiskFull(int error) { return error == ENOSPC || error == EDQUOT; }

void SetWriteError(uint32_t otherwise, std::string_view path, int error) {
    if (IsDiskFull(error)) {
        SetLastError(kErrNoSpace, "File=%.*s, disk full (errno=%d)", static_cast<int>(path.size()),
                     path.data(), error);
    } else {
        SetLastError(otherwise, "File=%.*s, errno=%d", static_cast<int>(path.size()), path.data(),
                     error);
    }
}

void SetDirectoryError(std::string_view path, int error) {
    if (IsDiskFull(error)) {
        SetLastError(kErrNoSpace, "Path=%.*s, disk full (errno=%d)", static_cast<int>(path.size()),
                     path.data(), error);
    } else {
        SetLastError(kErrOpen, "Path=%.*s, errno=%d", static_cast<int>(path.size()), path.data(),
                     error);
    }
}

PartFile::PartFile(platform::IFileSystem& fs, std::string target)
    : fs_(fs), target_(std::move(target)), part_(target_ + ".~part") {}

bool PartFile::Open() {
    if (int e = fs_.Open(ToNativePath(part_), platform::FileOpenMode::kCreateReadWrite, file_)) {
        SetWriteError(kErrOpen, target_, e);
        return false;
    }
    return true;
}

bool PartFile::Write(uint64_t offset, const void* data, size_t size) {
    if (int e = file_->WriteAt(offset, data, size)) {
        SetWriteError(kErrWrite, target_, e);
        return false;
    }
    return true;
}

bool PartFile::Commit(bool sync) {
    int e = sync ? file_->Sync() : 0;
    if (e == 0) e = file_->Close();
    file_.reset();
    if (e == 0) e = fs_.Rename(ToNativePath(part_), ToNativePath(target_));
    if (e != 0) {
        SetWriteError(kErrWrite, target_, e);
        Discard();
        return false;
    }
    part_.clear();
    return true;
}

void PartFile::Discard() {
    file_.reset();
    if (!part_.empty()) fs_.Remove(ToNativePath(part_));
    part_.clear();
}

}  // namespace AXP
