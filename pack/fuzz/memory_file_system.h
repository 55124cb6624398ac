// An in-memory platform::IFileSystem for the fuzz target and tests: files are byte
// vectors kept by path; directories are not kept. Not thread safe.
#pragma once

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"

namespace axp_fuzz {

class MemoryFileSystem final : public platform::IFileSystem {
  public:
    static constexpr uint64_t kMaxFileSize = 64u << 20;  // keeps the fuzzer's memory bounded

    using Bytes = std::vector<uint8_t>;

    void Put(const std::string& path, Bytes bytes) {
        files_[path] = std::make_shared<Bytes>(std::move(bytes));
    }
    std::shared_ptr<Bytes> Get(const std::string& path) {
        auto it = files_.find(path);
        return it == files_.end() ? nullptr : it->second;
    }

    int Open(const std::string& path, platform::FileOpenMode mode,
             std::unique_ptr<platform::IFile>& out) override {
        out.reset();
        auto it = files_.find(path);
        if (mode == platform::FileOpenMode::kCreateReadWrite) {
            files_[path] = std::make_shared<Bytes>();
            it = files_.find(path);
        }
        if (it == files_.end()) return ENOENT;
        out = std::make_unique<File>(it->second, mode != platform::FileOpenMode::kRead);
        return 0;
    }
    int Stat(const std::string& path, uint64_t& size, bool& isDirectory) override {
        auto it = files_.find(path);
        if (it == files_.end()) return ENOENT;
        size = it->second->size();
        isDirectory = false;
        return 0;
    }
    int Rename(const std::string& from, const std::string& to) override {
        auto it = files_.find(from);
        if (it == files_.end()) return ENOENT;
        auto bytes = it->second;
        files_.erase(it);
        files_[to] = std::move(bytes);
        return 0;
    }
    int Remove(const std::string& path) override { return files_.erase(path) ? 0 : ENOENT; }
    // Directories are implied by the paths of files: every one exists; only files are listed.
    int CreateDirectory(const std::string&) override { return 0; }
    int List(const std::string& path,
             std::vector<platform::NativeDirectoryEntry>& entries) override {
        entries.clear();
        const std::string prefix = path.empty() || path.back() == '/' ? path : path + "/";
        for (const auto& [name, bytes] : files_) {
            if (name.compare(0, prefix.size(), prefix) == 0 &&
                name.find('/', prefix.size()) == std::string::npos) {
                entries.push_back({name.substr(prefix.size()), false});
            }
        }
        return 0;
    }

  private:
    class File final : public platform::IFile {
      public:
        File(std::shared_ptr<Bytes> bytes, bool writable)
            : bytes_(std::move(bytes)), writable_(writable) {}
        int ReadAt(uint64_t offset, void* data, size_t size, size_t& got) override {
            got = 0;
            if (!bytes_) return EBADF;
            if (offset >= bytes_->size()) return 0;
            got = static_cast<size_t>(std::min<uint64_t>(size, bytes_->size() - offset));
            std::memcpy(data, bytes_->data() + offset, got);
            return 0;
        }
        int WriteAt(uint64_t offset, const void* data, size_t size) override {
            if (!bytes_) return EBADF;
            if (!writable_) return EBADF;
            if (offset + size > kMaxFileSize) return EFBIG;  // keep memory bounded
            if (bytes_->size() < offset + size) bytes_->resize(offset + size);
            if (size) std::memcpy(bytes_->data() + offset, data, size);
            return 0;
        }
        int GetSize(uint64_t& size) override {
            if (!bytes_) return EBADF;
            size = bytes_->size();
            return 0;
        }
        int SetSize(uint64_t size) override {
            if (!bytes_ || !writable_) return EBADF;
            if (size > kMaxFileSize) return EFBIG;
            bytes_->resize(size);
            return 0;
        }
        int Sync() override { return bytes_ ? 0 : EBADF; }
        int Close() override {
            if (!bytes_) return EBADF;
            bytes_.reset();
            return 0;
        }

      private:
        std::shared_ptr<Bytes> bytes_;
        bool writable_;
    };

    std::map<std::string, std::shared_ptr<Bytes>> files_;
};

}  // namespace axp_fuzz
