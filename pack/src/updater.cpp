#include "axp/updater.h"

#include <errno.h>

#include <map>
#include <vector>

#include "axp/command_script.h"
#include "axp/compress.h"
#include "axp/error.h"
#include "axp/name_hash.h"
#include "axp/pack_file.h"
#include "axp/package_form.h"
#include "file_crc.h"
#include "pack_io.h"
#include "package_zip.h"
#include "platform/directory_tree.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "sealed_package.h"

namespace AXP {

namespace {

constexpr uint8_t kLzmaType = 3;

struct DirCloser {
    void operator()(ZZIP_DIR* d) const { zzip_dir_close(d); }
};

struct PackageRecord {
    std::string readPath;  // the package, or its decoded file for a sealed package
    std::unique_ptr<ZZIP_DIR, DirCloser> dir;
    int zipError = 0;
    // Scrambled packages carry entries exactly as they are stored in a pack; sealed ones
    // carry plain content that is compressed on the way in.
    bool contentCompressed = false;
    // readPath is a decoded copy of a sealed package: it goes with its record, so that a
    // refused package leaves nothing in the temporary folder.
    bool decoded = false;

    PackageRecord() = default;
    PackageRecord(const PackageRecord&) = delete;
    PackageRecord& operator=(const PackageRecord&) = delete;
    ~PackageRecord() {
        dir.reset();
        if (decoded) platform::DeleteFileAt(readPath);
    }
};

struct PendingOperation {
    uint32_t operation = kOpWrite;
    std::string packName;
    std::string entryName;
    const PackageRecord* package = nullptr;
    uint32_t compressType = 0;
    uint32_t unpackedSize = 0;
};

struct PackPlan {
    std::string packName;
    std::map<std::string, PendingOperation> entries;
};

// The extension of the last component, dot included; "" when it has none.
std::string_view ExtensionOf(std::string_view name) {
    const size_t slash = name.find_last_of('/');
    const size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    return name.substr(dot);
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string path(dir);
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
    path += name;
    return path;
}

// The last component of a GBK path ("\" only where it is not a GBK trail byte).
std::string_view FileNameOf(std::string_view path) {
    size_t start = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (platform::IsGbkLeadByte(c) && i + 1 < path.size()) {
            ++i;
        } else if (c == '/' || c == '\\') {
            start = i + 1;
        }
    }
    return path.substr(start);
}

bool RefuseCommand(std::string_view path, const ScriptCommand& c, uint32_t code, const char* why) {
    SetLastError(code, "File=%.*s: %s (pack=\"%s\", entry=\"%s\")", static_cast<int>(path.size()),
                 path.data(), why, c.packName.c_str(), c.entryName.c_str());
    return false;
}

// Every line of the script must be one the apply can carry out: a known operation on a
// name inside the installation directory, a write with its member in the zip and a codec
// that exists. Error 10 (operation, names), 14 (member) or 18 (codec).
bool CheckCommands(std::string_view path, const std::vector<ScriptCommand>& commands,
                   ZZIP_DIR* dir) {
    for (const ScriptCommand& c : commands) {
        if (!IsContainedName(c.entryName) ||
            (!c.packName.empty() && !IsContainedName(c.packName))) {
            return RefuseCommand(path, c, kErrInvalidArg,
                                 "name outside the installation directory");
        }
        if (c.operation != kOpWrite && c.operation != kOpRemove) {
            return RefuseCommand(path, c, kErrInvalidArg, "unknown operation");
        }
        if (c.operation != kOpWrite) continue;
        if (!HasZipMember(dir, c.entryName)) {
            return RefuseCommand(path, c, kErrZip, "no member for the entry");
        }
        if (!c.packName.empty() && c.compressType != 0 &&
            (c.compressType > 0xFF ||
             GetCompressManager().GetByType(static_cast<uint8_t>(c.compressType)) == nullptr)) {
            return RefuseCommand(path, c, kErrUnknownCompress, "unknown compression type");
        }
    }
    return true;
}

}  // namespace

struct Updater::Impl {
    platform::IFileSystem* fs;
    PackageZipIo io;
    std::vector<std::string> added;  // the paths of the packages in the plan
    std::map<std::string, PendingOperation> plainPlan;
    std::map<std::string, PackPlan> packPlan;
    std::string tempDir;
    std::vector<std::unique_ptr<PackageRecord>> packages;
    // The extraction buffers belong to this Updater alone: Updaters on other threads never
    // see or overwrite them.
    std::vector<uint8_t> buffer;
    std::vector<uint8_t> compressed;

    explicit Impl(platform::IFileSystem* f) : fs(f) {}

    bool EnsureTempDirectory();
    // Opens a scrambled or sealed package (any form with `anyForm`) for reading.
    std::unique_ptr<PackageRecord> OpenPackage(std::string_view path, bool anyForm);
    bool DecodeSealed(std::string_view path, std::string& decoded);
    // The progress callback of one ApplyPatches call with its context.
    struct Progress {
        UpdateProgressContextCallback callback = nullptr;
        void* context = nullptr;
        void operator()(const char* packName, const char* entryName, uint32_t operation) const {
            if (callback != nullptr) callback(context, packName, entryName, operation);
        }
    };

    bool InstallPlain(std::string_view installDir, const PendingOperation& op,
                      const Progress& progress);
    bool ApplyPackEntry(PackFile& pack, const PendingOperation& op, const Progress& progress);
    bool ApplyPack(std::string_view installDir, const PackPlan& plan, const Progress& progress);
    void RemoveTempDirectory() {
        if (!tempDir.empty()) platform::RemoveDirectoryTree(tempDir);
    }
};

int MakeDirectoryChain(platform::IFileSystem& fs, std::string_view gbkPath) {
    if (gbkPath.empty()) return EINVAL;
    if (platform::IsDirectory(gbkPath)) return 0;
    const std::string native = ToNativePath(gbkPath);
    const int error = fs.CreateDirectory(native);
    if (error != ENOENT) return error;
    const std::string_view name = FileNameOf(gbkPath);
    if (name.size() == gbkPath.size()) return error;
    std::string_view parent = gbkPath.substr(0, gbkPath.size() - name.size() - 1);
    if (parent.empty()) return error;  // the root itself could not be made
    if (int e = MakeDirectoryChain(fs, parent)) return e;
    // The parent existed under another case: the native path changes with it.
    return fs.CreateDirectory(ToNativePath(gbkPath));
}

bool CreateDirectoryChain(std::string_view path) {
    return MakeDirectoryChain(platform::PosixFileSystem(), path) == 0;
}

Updater::Updater(platform::IFileSystem* fileSystem)
    : impl_(std::make_unique<Impl>(fileSystem ? fileSystem : &platform::PosixFileSystem())) {}

Updater::~Updater() {
    impl_->packages.clear();  // closes the zip directories before their files go
    impl_->RemoveTempDirectory();
}

const std::string& Updater::TempDirectory() const { return impl_->tempDir; }

bool Updater::Impl::EnsureTempDirectory() {
    if (tempDir.empty()) {
        if (platform::SysStatus s = platform::CreateUniqueTempDirectory("axu", tempDir); !s) {
            SetDirectoryError(tempDir, s.error);
            tempDir.clear();
            return false;
        }
        return true;
    }
    if (int e = MakeDirectoryChain(*fs, tempDir)) {
        SetDirectoryError(tempDir, e);
        return false;
    }
    return true;
}

bool Updater::Impl::DecodeSealed(std::string_view path, std::string& decoded) {
    if (!EnsureTempDirectory()) return false;
    std::string_view name = FileNameOf(path);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string_view::npos) name = name.substr(0, dot);
    // Two packages of the same file name from different folders must not share a decoded
    // file: the first one's zip directory still reads from it.
    decoded = JoinPath(tempDir, std::string(name) + ".~patch");
    for (int n = 1; platform::PathExists(decoded); ++n) {
        decoded = JoinPath(tempDir, std::string(name) + "." + std::to_string(n) + ".~patch");
    }
    if (!DecodeSealedPackage(path, decoded, false)) {
        // A full disk or an unwritable temporary folder keeps its own code: the package
        // itself may be sound, and the user is told what to fix.
        const uint32_t code = GetLastErrorCode();
        if (code == kErrNoSpace || code == kErrWrite || code == kErrOpen) return false;
        const std::string text = GetLastErrorText();
        SetLastError(kErrCorrupt, "File=%.*s(sealed package cannot be decoded: %s)",
                     static_cast<int>(path.size()), path.data(), text.c_str());
        return false;
    }
    return true;
}

std::unique_ptr<PackageRecord> Updater::Impl::OpenPackage(std::string_view path, bool anyForm) {
    auto record = std::make_unique<PackageRecord>();
    const PackageForm form = DetectPackageFormOfFile(path);
    if (form == PackageForm::kScrambled) {
        record->readPath.assign(path);
        record->contentCompressed = true;
    } else if (form == PackageForm::kSealed) {
        if (!DecodeSealed(path, record->readPath)) return nullptr;
        record->decoded = true;
    } else if (anyForm && form != PackageForm::kNone) {
        record->readPath.assign(path);
    } else {
        SetLastError(kErrCorrupt, "File=%.*s, form=%s", static_cast<int>(path.size()), path.data(),
                     PackageFormName(form));
        return nullptr;
    }
    const zzip_plugin_io_t zipIo = io.For(DetectPackageFormOfFile(record->readPath));
    if (zipIo == nullptr) {
        SetLastError(kErrCorrupt);
        return nullptr;
    }
    zzip_error_t zipError = ZZIP_NO_ERROR;
    record->dir.reset(
        zzip_dir_open_ext_io(ToNativePath(record->readPath).c_str(), &zipError, nullptr, zipIo));
    record->zipError = static_cast<int>(zipError);
    if (!record->dir || zipError != ZZIP_NO_ERROR) {
        SetLastError(kErrZip, "ziperr=%d", static_cast<int>(zipError));
        return nullptr;
    }
    return record;
}

bool Updater::ReadPackageMember(std::string_view path, std::string_view member, std::string& out) {
    out.clear();
    std::unique_ptr<PackageRecord> record = impl_->OpenPackage(path, true);
    uint32_t size = 0;
    if (!record || !ExtractZipMember(record->dir.get(), member, impl_->buffer, size)) return false;
    out.assign(reinterpret_cast<const char*>(impl_->buffer.data()), size);
    return true;
}

bool Updater::VerifyPackageFile(std::string_view path) {
    if (path.empty()) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    uint32_t stored = 0, computed = 0;
    if (!ReadPackageTrailer(path, stored, computed)) return false;
    if (stored != computed) {
        SetLastError(kErrCorrupt, "File=%.*s, crcdif(%08X!=%08X)", static_cast<int>(path.size()),
                     path.data(), computed, stored);
        return false;
    }
    return true;
}

bool Updater::AddPatchPackage(std::string_view path, std::string_view packExtension) {
    Impl& m = *impl_;
    if (path.empty()) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    // The same file under another spelling (case, slashes, "./", a link) is the same
    // package: adding it again would apply it twice.
    for (const std::string& added : m.added) {
        if (platform::SameFile(added, path)) return true;
    }

    std::unique_ptr<PackageRecord> record = m.OpenPackage(path, false);
    if (!record) return false;
    uint32_t size = 0;
    if (!ExtractZipMember(record->dir.get(), kCommandEntryName, m.buffer, size)) return false;
    const std::vector<ScriptCommand> commands =
        ParseCommandScript(std::string_view(reinterpret_cast<const char*>(m.buffer.data()), size));
    // The whole package is checked before any of it enters the plan, so that a package
    // that cannot be applied to the end is never applied in part.
    if (!CheckCommands(path, commands, record->dir.get()) ||
        !CheckAllZipMembers(record->dir.get())) {
        return false;
    }

    const PackageRecord* package = record.get();
    m.packages.push_back(std::move(record));
    m.added.emplace_back(path);
    for (const ScriptCommand& c : commands) {
        PendingOperation op{c.operation, c.packName,     c.entryName,
                            package,     c.compressType, c.unpackedSize};
        if (c.packName.empty()) {
            // A pack replaced as a whole file makes its pending entries moot.
            if (ExtensionOf(c.entryName) == packExtension) m.packPlan.erase(c.entryName);
            m.plainPlan[c.entryName] = std::move(op);
        } else {
            PackPlan& plan = m.packPlan[c.packName];
            plan.packName = c.packName;
            plan.entries[c.entryName] = std::move(op);
        }
    }
    return true;
}

uint32_t Updater::GetPendingCount() {
    size_t count = impl_->plainPlan.size();
    for (const auto& [name, plan] : impl_->packPlan) count += plan.entries.size();
    return static_cast<uint32_t>(count);
}

bool Updater::SetTempDirectory(std::string_view path) {
    if (path.empty() || !platform::IsDirectory(path)) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    if (!impl_->tempDir.empty()) {
        SetLastError(kErrAlreadySet);
        return false;
    }
    impl_->tempDir.assign(path);
    return true;
}

bool Updater::Impl::InstallPlain(std::string_view installDir, const PendingOperation& op,
                                 const Progress& progress) {
    progress("", op.entryName.c_str(), op.operation);
    const std::string target = JoinPath(installDir, op.entryName);
    if (op.operation == kOpWrite) {
        return ExtractZipMemberToFile(op.package->dir.get(), op.entryName, target, *fs);
    }
    if (op.operation == kOpRemove) {
        // Already gone counts as done: a killed run may have removed it.
        const int e = fs->Remove(ToNativePath(target));
        if (e == 0 || e == ENOENT) return true;
        SetLastError(kErrWrite, "File=%s, errno=%d", target.c_str(), e);
        return false;
    }
    SetLastError(kErrInvalidArg, "operation %u (file %s)", op.operation, op.entryName.c_str());
    return false;
}

bool Updater::Impl::ApplyPackEntry(PackFile& pack, const PendingOperation& op,
                                   const Progress& progress) {
    progress(op.packName.c_str(), op.entryName.c_str(), op.operation);
    if (op.operation == kOpRemove) {
        if (pack.RemoveFile(op.entryName, true)) return true;
        return GetLastErrorCode() == kErrNotFound;  // already gone: nothing to do
    }
    if (op.operation != kOpWrite) {
        SetLastError(kErrInvalidArg, "operation %u (pack %s, entry %s)", op.operation,
                     op.packName.c_str(), op.entryName.c_str());
        return false;
    }
    uint32_t size = 0;
    if (!ExtractZipMember(op.package->dir.get(), op.entryName, buffer, size)) return false;
    const uint8_t* data = buffer.data();
    if (op.compressType != 0 && !op.package->contentCompressed) {
        ICompress* codec = GetCompressManager().GetByType(static_cast<uint8_t>(op.compressType));
        if (codec == nullptr || op.compressType > 0xFF) {
            SetLastError(kErrUnknownCompress, "CompressType=%u", op.compressType);
            return false;
        }
        compressed.resize(std::max<size_t>(codec->GetMaxCompressedSize(size), size + size_t{1}));
        std::copy(buffer.begin(), buffer.begin() + size, compressed.begin());
        if (!codec->Compress(compressed.data(), static_cast<uint32_t>(compressed.size()), size)) {
            return false;
        }
        data = compressed.data();
    }
    return pack.AddFile(data, size, op.entryName, true, true, static_cast<uint8_t>(op.compressType),
                        op.unpackedSize);
}

bool Updater::Impl::ApplyPack(std::string_view installDir, const PackPlan& plan,
                              const Progress& progress) {
    PackFile pack(fs);
    if (!pack.Open(JoinPath(installDir, plan.packName), false)) return false;
    // Removals first, so that the space they free can take the new entries.
    for (uint32_t operation : {kOpRemove, kOpWrite}) {
        for (const auto& [name, op] : plan.entries) {
            const bool removal = op.operation == kOpRemove;
            if (removal != (operation == kOpRemove)) continue;
            if (!ApplyPackEntry(pack, op, progress)) {
                const uint32_t code = GetLastErrorCode();
                const std::string text = GetLastErrorText();
                pack.Close();
                SetLastError(code, "%s", text.c_str());
                return false;
            }
        }
    }
    return pack.Close();
}

bool Updater::ApplyPatches(std::string_view installDir, std::string_view packExtension,
                           std::string_view lastFile, UpdateProgressCallback callback) {
    if (callback == nullptr)
        return ApplyPatches(installDir, packExtension, lastFile, nullptr, nullptr);
    auto plain = [](void* context, const char* packName, const char* entryName,
                    uint32_t operation) {
        (*static_cast<UpdateProgressCallback*>(context))(packName, entryName, operation);
    };
    return ApplyPatches(installDir, packExtension, lastFile, plain, &callback);
}

bool Updater::ApplyPatches(std::string_view installDir, std::string_view packExtension,
                           std::string_view lastFile, UpdateProgressContextCallback callback,
                           void* context) {
    Impl& m = *impl_;
    const Impl::Progress progress{callback, context};
    if (installDir.empty()) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    // Whole pack files first: their entries in the plan were dropped when they were
    // replaced, and later entries apply to the new file.
    for (const auto& [name, op] : m.plainPlan) {
        if (EqualIgnoringAsciiCase(ExtensionOf(name), packExtension) &&
            !m.InstallPlain(installDir, op, progress)) {
            return false;
        }
    }
    for (const auto& [name, plan] : m.packPlan) {
        if (!m.ApplyPack(installDir, plan, progress)) return false;
    }
    const PendingOperation* last = nullptr;
    for (const auto& [name, op] : m.plainPlan) {
        if (EqualIgnoringAsciiCase(ExtensionOf(name), packExtension)) continue;
        if (name == lastFile) {
            last = &op;
            continue;
        }
        if (!m.InstallPlain(installDir, op, progress)) return false;
    }
    // The version file goes last: the installed version changes only once every other
    // file of the patch is in place.
    if (last != nullptr && !m.InstallPlain(installDir, *last, progress)) return false;
    m.RemoveTempDirectory();
    return true;
}

bool Updater::ComputeFileCrc(std::string_view path, uint32_t& crc, bool skipTrailer) {
    crc = 0xFFFFFFFFu;
    int error = 0;
    if (!CrcOfFile(path, skipTrailer, crc, error)) {
        crc = 0xFFFFFFFFu;
        SetLastError(kErrRead, "errno=%d", error);
        return false;
    }
    return true;
}

bool Updater::ConvertPackageForm(std::string_view source, std::string_view destination) {
    if (source.empty() || destination.empty()) {
        SetLastError(kErrInvalidArg);
        return false;
    }
    if (!platform::SameFile(source, destination)) {
        if (platform::SysStatus s = platform::CopyFileOver(source, destination); !s) {
            SetLastError(kErrWrite, "File=%.*s, %s: errno=%d", static_cast<int>(destination.size()),
                         destination.data(), s.operation, s.error);
            return false;
        }
    }
    ICompress* lzma = GetCompressManager().GetByType(kLzmaType);
    if (lzma == nullptr) return false;
    const PackageForm form = DetectPackageFormOfFile(destination);
    if (form == PackageForm::kPlain) {
        uint64_t size = 0;
        bool isDirectory = false;
        if (!ComplementFileInPlace(destination) ||
            platform::PosixFileSystem().Stat(ToNativePath(destination), size, isDirectory) != 0) {
            return false;
        }
        if (size > 0xFFFFFFFFull) {
            SetLastError(kErrInvalidArg, "File=%.*s(too large)",
                         static_cast<int>(destination.size()), destination.data());
            return false;
        }
        uint8_t header[kSealedHeaderSize] = {'J', 'Z', 'Q', '1'};
        for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<uint8_t>(size >> (8 * i));
        uint32_t unpacked = 0, packed = 0;
        return GetCompressManager().CompressFile(lzma, destination, destination, unpacked, header,
                                                 sizeof(header), true, packed);
    }
    if (form == PackageForm::kSealed) return DecodeSealedPackage(destination, destination, true);
    SetLastError(kErrCorrupt, "File=%.*s, form=%s", static_cast<int>(destination.size()),
                 destination.data(), PackageFormName(form));
    return false;
}

}  // namespace AXP
