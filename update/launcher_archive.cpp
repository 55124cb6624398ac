#include "update/launcher_archive.h"

#include <zzip/zzip.h>

#include <memory>

#include "platform/native_path.h"

namespace {

struct DirCloser {
    void operator()(ZZIP_DIR* d) const { zzip_dir_close(d); }
};
struct FileCloser {
    void operator()(ZZIP_FILE* f) const { zzip_file_close(f); }
};

}  // namespace

ArchiveResult ReadArchiveMember(std::string_view zipPath, const char* memberName,
                                std::string& data) {
    data.clear();
    std::string native;
    if (!platform::NativePath(zipPath, native)) return ArchiveResult::CannotOpenArchive;
    zzip_error_t error = ZZIP_NO_ERROR;
    std::unique_ptr<ZZIP_DIR, DirCloser> dir(zzip_dir_open(native.c_str(), &error));
    if (!dir) return ArchiveResult::CannotOpenArchive;

    std::unique_ptr<ZZIP_FILE, FileCloser> member(
        zzip_file_open(dir.get(), memberName, ZZIP_CASELESS | ZZIP_ONLYZIP));
    if (!member) return ArchiveResult::NoMember;

    ZZIP_STAT st;
    if (zzip_dir_stat(dir.get(), memberName, &st, ZZIP_CASELESS) != 0 || st.st_size < 0 ||
        static_cast<uint64_t>(st.st_size) > kMaxArchiveMemberBytes)
        return ArchiveResult::ReadFailed;
    data.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < data.size()) {
        zzip_ssize_t n = zzip_file_read(member.get(), data.data() + got, data.size() - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    // One byte more than the entry announced also means the entry lies.
    char extra;
    if (got != data.size() || zzip_file_read(member.get(), &extra, 1) > 0) {
        data.clear();
        return ArchiveResult::ReadFailed;
    }
    return ArchiveResult::Ok;
}
