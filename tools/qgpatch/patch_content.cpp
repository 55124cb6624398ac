#include "patch_content.h"

#include "axp/updater.h"
#include "axp/zip_writer.h"
#include "platform/file_system.h"

namespace qgpatch {

std::string PatchContent::Script() const {
    std::string text;
    for (const AXP::ScriptCommand& c : commands) text += AXP::FormatScriptLine(c) + "\r\n";
    return text;
}

bool WritePatchPackage(const std::string& gbkPath, AXP::PackageForm form,
                       const PatchContent& content) {
    const std::string zip = gbkPath + ".zip.tmp";
    const std::string script = content.Script();
    // A sealed package is compressed as a whole with LZMA, which does better on stored
    // members than on deflated ones.
    const bool deflate = form != AXP::PackageForm::kSealed;
    AXP::ZipWriter writer;
    bool ok = writer.Create(zip) &&
              writer.Add(AXP::kCommandEntryName, script.data(), script.size(), deflate);
    for (auto it = content.members.begin(); ok && it != content.members.end(); ++it) {
        ok = writer.Add(it->first, it->second.data(), it->second.size(), deflate);
    }
    ok = ok && writer.Finish();
    if (ok) {
        ok = form == AXP::PackageForm::kSealed ? AXP::Updater().ConvertPackageForm(zip, gbkPath)
                                               : AXP::ScramblePackageFile(zip, gbkPath);
    }
    platform::DeleteFileAt(zip);
    return ok;
}

}  // namespace qgpatch
