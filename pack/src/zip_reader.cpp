#include "axp/zip_reader.h"

#include <zzip/zzip.h>

#include <memory>
#include <vector>

#include "pack_io.h"
#include "package_zip.h"

namespace AXP {

namespace {

struct DirCloser {
    void operator()(ZZIP_DIR* d) const { zzip_dir_close(d); }
};

using ZipDir = std::unique_ptr<ZZIP_DIR, DirCloser>;

// Opens the zip and finds the member, refusing one that claims more than `maxBytes`.
ZipMemberResult OpenWithMember(std::string_view path, std::string_view member, uint64_t maxBytes,
                               ZipDir& dir) {
    zzip_error_t error = ZZIP_NO_ERROR;
    dir.reset(zzip_dir_open(ToNativePath(path).c_str(), &error));
    if (!dir || error != ZZIP_NO_ERROR) return ZipMemberResult::kCannotOpen;
    if (!HasZipMember(dir.get(), member)) return ZipMemberResult::kNoMember;
    const std::string name(member);
    ZZIP_STAT st;
    if (zzip_dir_stat(dir.get(), name.c_str(), &st, ZZIP_CASELESS) != 0 || st.st_size < 0 ||
        static_cast<uint64_t>(st.st_size) > maxBytes)
        return ZipMemberResult::kReadFailed;
    return ZipMemberResult::kOk;
}

}  // namespace

ZipMemberResult ReadZipMember(std::string_view path, std::string_view member, uint64_t maxBytes,
                              std::string& out) {
    out.clear();
    ZipDir dir;
    if (const ZipMemberResult opened = OpenWithMember(path, member, maxBytes, dir);
        opened != ZipMemberResult::kOk)
        return opened;
    std::vector<uint8_t> buffer;
    uint32_t size = 0;
    if (!ExtractZipMember(dir.get(), member, buffer, size)) return ZipMemberResult::kReadFailed;
    out.assign(reinterpret_cast<const char*>(buffer.data()), size);
    return ZipMemberResult::kOk;
}

ZipMemberResult ExtractZipMember(std::string_view path, std::string_view member, uint64_t maxBytes,
                                 std::string_view target) {
    ZipDir dir;
    if (const ZipMemberResult opened = OpenWithMember(path, member, maxBytes, dir);
        opened != ZipMemberResult::kOk)
        return opened;
    return ExtractZipMemberToFile(dir.get(), member, std::string(target),
                                  platform::PosixFileSystem())
               ? ZipMemberResult::kOk
               : ZipMemberResult::kReadFailed;
}

}  // namespace AXP
