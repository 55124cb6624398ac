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

int FaultInjectingFileSystem::OnWrite() {
    if (killed_) return EIO;
    uint64_t n = ++writes_;
    uint64_t at = failWriteAt_;
    if (at != 0 && n == at) {
        if (killOnWrite_) killed_ = true;
        return writeError_;
    }
    return 0;
}

int FaultInjectingFileSystem::OnRead() {
    if (killed_) return EIO;
    uint64_t n = ++reads_;
    uint64_t at = failReadAt_;
    return (at != 0 && n == at) ? readError_.load() : 0;
}

}  // namespace platform
