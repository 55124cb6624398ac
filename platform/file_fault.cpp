#include "platform/file_fault.h"

#include <cerrno>

namespace platform {
namespace {

class FaultFile final : public IFile {
  public:
    FaultFile(FaultInjectingFileSystem& fs, std::unique_ptr<IFile> inner)
        : fs_(fs), inner_(std::move(inner)) {}

    int ReadAt(uint64_t offset, void* data, size_t size, size_t& got) override {
        got = 0;
        if (int e = fs_.OnRead()) return e;
        return inner_->ReadAt(offset, data, size, got);
    }
    int WriteAt(uint64_t offset, const void* data, size_t size) override {
        if (int e = fs_.OnWrite()) return e;
        return inner_->WriteAt(offset, data, size);
    }
    int GetSize(uint64_t& size) override { return inner_->GetSize(size); }
    int SetSize(uint64_t size) override {
        if (int e = fs_.OnWrite()) return e;
        return inner_->SetSize(size);
    }
    int Sync() override {
        if (int e = fs_.OnSync()) return e;
        return inner_->Sync();
    }
    int Close() override { return inner_->Close(); }

  private:
    FaultInjectingFileSystem& fs_;
    std::unique_ptr<IFile> inner_;
};

}  // namespace

int FaultInjectingFileSystem::Open(const std::string& nativePath, FileOpenMode mode,
                                   std::unique_ptr<IFile>& out) {
    out.reset();
    if (killed_) return EIO;
    if (int e = openError_.load()) return e;
    std::unique_ptr<IFile> inner;
    if (int e = inner_.Open(nativePath, mode, inner)) return e;
    out = std::make_unique<FaultFile>(*this, std::move(inner));
    return 0;
}

int FaultInjectingFileSystem::Rename(const std::string& fromNativePath,
                                     const std::string& toNativePath) {
    if (int e = Count(renames_, failRenameAt_, renameError_, killOnRename_)) return e;
    return inner_.Rename(fromNativePath, toNativePath);
}

int FaultInjectingFileSystem::Remove(const std::string& nativePath) {
    if (int e = Count(removes_, failRemoveAt_, removeError_, killOnRemove_)) return e;
    return inner_.Remove(nativePath);
}

int FaultInjectingFileSystem::Count(std::atomic<uint64_t>& count,
                                    const std::atomic<uint64_t>& failAt,
                                    const std::atomic<int>& error, const std::atomic<bool>& kill) {
    if (killed_) return EIO;
    const uint64_t n = ++count;
    const uint64_t at = failAt;
    if (at != 0 && n == at) {
        if (kill) killed_ = true;
        return error;
    }
    return 0;
}

int FaultInjectingFileSystem::OnWrite() {
    return Count(writes_, failWriteAt_, writeError_, killOnWrite_);
}

int FaultInjectingFileSystem::OnRead() {
    if (killed_) return EIO;
    uint64_t n = ++reads_;
    uint64_t at = failReadAt_;
    return (at != 0 && n == at) ? readError_.load() : 0;
}

}  // namespace platform
