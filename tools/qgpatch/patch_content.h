// What a patch package carries: the command script and the zip members named by it, and
// writing them as a package in the scrambled or sealed form.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "axp/command_script.h"
#include "axp/package_form.h"

namespace qgpatch {

struct PatchContent {
    std::vector<AXP::ScriptCommand> commands;
    // Zip member name (the entry name, GBK) -> content.
    std::map<std::string, std::string> members;

    std::string Script() const;  // CR LF line ends
};

// Writes the package (the plain zip goes through "<path>.zip.tmp"). False with the
// library's last error set.
bool WritePatchPackage(const std::string& gbkPath, AXP::PackageForm form,
                       const PatchContent& content);

}  // namespace qgpatch
