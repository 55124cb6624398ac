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

// Reads the member `name` (looked up without regard to case) into `buffer`, which is
// grown as needed and reused; `size` gets the member's size. Errors: 14 "ziperr=%d", or
// 14 when the member does not hold as many bytes as its directory entry says.
bool ExtractZipMember(ZZIP_DIR* dir, std::string_view name, std::vector<uint8_t>& buffer,
                      uint32_t& size);

// Reads the member `name` into the file `target` (GBK path, created or truncated; its
// directory is created as needed) through `fs`, chunk by chunk.
bool ExtractZipMemberToFile(ZZIP_DIR* dir, std::string_view name, const std::string& target,
                            platform::IFileSystem& fs);

}  // namespace AXP
