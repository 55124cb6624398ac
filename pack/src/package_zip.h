// Private: reading the zip inside a patch package with zziplib. The read hooks undo the
// inverted and scrambled byte forms as zziplib reads, so the package is never decoded to
// a second file.
#pragma once

#include <zzip/plugin.h>
#include <zzip/zzip.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "axp/package_form.h"

namespace platform {
class IFileSystem;
}

namespace AXP {

// The reader tables of one Updater: zziplib keeps a pointer to the table for as long as a
// directory is open, so they live as long as their owner.
class PackageZipIo {
  public:
    PackageZipIo();
    // Plain: zziplib's default; inverted and scrambled: the hooked copies; else null.
    zzip_plugin_io_t For(PackageForm form) const;

  private:
    zzip_plugin_io_handlers inverted_;
    zzip_plugin_io_handlers scrambled_;
};

// Every read of a member is checked against the zip's central directory record: the
// decoded byte count against its size, the CRC-32 of the bytes against its CRC-32, and a
// stored member's compressed size against its size. A member that fails any of them is
// error 14 with a text naming the member and the fault.

// Reads the member `name` (looked up without regard to case) into `buffer`, which is
// grown as needed and reused; `size` gets the member's size. Errors: 14 "ziperr=%d", or
// 14 for a member that fails its check.
bool ExtractZipMember(ZZIP_DIR* dir, std::string_view name, std::vector<uint8_t>& buffer,
                      uint32_t& size);

// Reads the member `name` into the file `target` (GBK path; its directory is created as
// needed) through `fs`, chunk by chunk, through a side file "<target>.~part" that
// replaces the target only once the member passed its check: a bad member never changes
// the target. Write failures: 12 with "errno=%d" for a full disk, else 3 or 5 with the
// errno.
bool ExtractZipMemberToFile(ZZIP_DIR* dir, std::string_view name, const std::string& target,
                            platform::IFileSystem& fs);

// Reads every member of the zip through, in bounded chunks, and checks it as above; the
// zip's own directory must not be empty. Nothing is kept. Errors as for ExtractZipMember.
bool CheckAllZipMembers(ZZIP_DIR* dir);

// True when the zip holds a member of that name (without regard to case).
bool HasZipMember(ZZIP_DIR* dir, std::string_view name);

}  // namespace AXP
