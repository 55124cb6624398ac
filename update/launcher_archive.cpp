#include "update/launcher_archive.h"

#include "axp/zip_reader.h"

ArchiveResult ReadArchiveMember(std::string_view zipPath, const char* memberName,
                                std::string& data) {
    switch (AXP::ReadZipMember(zipPath, memberName, kMaxArchiveMemberBytes, data)) {
        case AXP::ZipMemberResult::kOk:
            return ArchiveResult::Ok;
        case AXP::ZipMemberResult::kCannotOpen:
            return ArchiveResult::CannotOpenArchive;
        case AXP::ZipMemberResult::kNoMember:
            return ArchiveResult::NoMember;
        case AXP::ZipMemberResult::kReadFailed:
            break;
    }
    return ArchiveResult::ReadFailed;
}
