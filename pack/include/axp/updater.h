// AXP::IUpdater / AXP::Updater: applies downloaded patch packages (axp/package_form.h) to
// an installed client: entries written into or removed from pack files, plain files
// written into or removed from the installation directory.
//
// Two phases: AddPatchPackage once per package, in the order the packages must be
// applied, reads the package's command script into a merged plan (a later package wins
// per entry; a pack replaced as a plain file drops its pending entries); ApplyPatches then
// carries out the plan: plain pack files first, then per pack its removals before its
// writes, then the other plain files with the named last file (".ver") held back to the
// end.
//
// Command script: the zip entry "(command)", one "op|pack|entry|type|%08X size" line per
// entry.
//
// AddPatchPackage checks the whole package before any of it enters the plan, so that a
// package that could not be applied to its end is never applied in part: a sealed
// package is decoded (to disk, in bounded chunks; a decoded size its data cannot hold is
// refused first), every zip member is read through in bounded chunks and its size and
// CRC-32 compared with the zip's records, and every script line must be carried out:
// a known operation (else 10), names inside the installation directory (else 10), a
// write's member present (else 14) and its codec known (else 18). ApplyPatches checks
// each member again as it extracts it (the file may have changed since), before its
// target changes.
//
// Error codes, for callers that must tell a bad package from a local failure:
//   the package itself is bad: 2 (form, trailer, sealed header or decode), 10 (script),
//     14 (zip structure, member size or CRC-32), 18 (codec), 19 (LZMA data);
//   the disk is full (ENOSPC, EDQUOT): 12, text "... disk full ... (errno=28)";
//   another write or create failed: 3 or 5, with the errno in the text; 4: a read failed.
//
// Ownership: the Updater owns its package records (open zip directories), the decoded
// sealed packages and its temporary directory; the destructor deletes that directory.
// Thread safety: one Updater is for one thread at a time; separate Updaters share no
// state (each has its own extraction buffer), apart from the library's last error.
// Failure: false results plus the library's last error (axp/error.h). A failure midway
// through ApplyPatches leaves what was done in place; running the same plan again
// completes it (writes and removals are idempotent).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {
class IFileSystem;
}

namespace AXP {

// Called once per entry just before it is processed: pack name ("" for a plain file),
// entry name, operation (0 write, 1 remove).
using UpdateProgressCallback = void (*)(const char* packName, const char* entryName,
                                        uint32_t operation);
// The same with the caller's context, so that the callback needs no global to find it.
using UpdateProgressContextCallback = void (*)(void* context, const char* packName,
                                               const char* entryName, uint32_t operation);

class IUpdater {
  public:
    // True when the file's last 4 bytes (u32 LE) equal the CRC of all bytes before them.
    // Empty path: error 10.
    virtual bool VerifyPackageFile(std::string_view path) = 0;
    // Checks the whole package (see above) and reads its script into the plan. Only
    // scrambled and sealed packages are accepted (others: error 2). A package added before
    // (the same file under any spelling of its path) is not read again. `packExtension` is
    // the extension of pack files (".pak"). False: nothing of the package is in the plan.
    virtual bool AddPatchPackage(std::string_view path, std::string_view packExtension) = 0;
    // Entries in the plan: the number of progress calls ApplyPatches will make.
    virtual uint32_t GetPendingCount() = 0;
    // Uses an existing directory for decoded packages (else error 10); only while none is
    // set (else error 17).
    virtual bool SetTempDirectory(std::string_view path) = 0;
    // Carries out the plan under `installDir`; `lastFile` (normalised, e.g. ".ver") is
    // installed after everything else. `callback` may be null.
    virtual bool ApplyPatches(std::string_view installDir, std::string_view packExtension,
                              std::string_view lastFile, UpdateProgressCallback callback) = 0;
    // The same, with `context` passed back to `callback` on every call.
    virtual bool ApplyPatches(std::string_view installDir, std::string_view packExtension,
                              std::string_view lastFile, UpdateProgressContextCallback callback,
                              void* context) = 0;
    // CRC of the whole file, or of all but its last 4 bytes. A file that cannot be opened:
    // false, error 4 "errno=%d", `crc` = 0xFFFFFFFF.
    virtual bool ComputeFileCrc(std::string_view path, uint32_t& crc, bool skipTrailer) = 0;
    // Copies `source` to `destination` and turns a plain package into a sealed one or a
    // sealed one into a plain one (other forms: error 2). Both may name the same file.
    virtual bool ConvertPackageForm(std::string_view source, std::string_view destination) = 0;
    // Deletes the temporary directory and releases every package record.
    virtual ~IUpdater() = default;
};

class Updater final : public IUpdater {
  public:
    // `fileSystem` (not owned, must outlive the Updater) is where pack files and plain
    // files are written; null means platform::PosixFileSystem(). Packages are read in
    // place (a sealed one is decoded to the temporary directory first).
    explicit Updater(platform::IFileSystem* fileSystem = nullptr);
    ~Updater() override;
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    bool VerifyPackageFile(std::string_view path) override;
    bool AddPatchPackage(std::string_view path, std::string_view packExtension) override;
    uint32_t GetPendingCount() override;
    bool SetTempDirectory(std::string_view path) override;
    bool ApplyPatches(std::string_view installDir, std::string_view packExtension,
                      std::string_view lastFile, UpdateProgressCallback callback) override;
    bool ApplyPatches(std::string_view installDir, std::string_view packExtension,
                      std::string_view lastFile, UpdateProgressContextCallback callback,
                      void* context) override;
    bool ComputeFileCrc(std::string_view path, uint32_t& crc, bool skipTrailer) override;
    bool ConvertPackageForm(std::string_view source, std::string_view destination) override;

    // For tools: reads one member of a package of any form (a sealed one is decoded into
    // the temporary directory) without touching the plan.
    bool ReadPackageMember(std::string_view path, std::string_view member, std::string& out);

    // The temporary directory in use ("" until first needed or set).
    const std::string& TempDirectory() const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

// True when `path` exists or could be created, parents first.
bool CreateDirectoryChain(std::string_view path);

}  // namespace AXP
