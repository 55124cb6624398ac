#include "app/install_layout.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ScopedCurrentDir;
using testing_support::TempDir;

// A launcher installed from the packages (PREFIX/bin/quillgate) and one in a client folder
// with its files beside it: each finds its own, the client's skin first.
TEST(InstallLayout, EachLauncherFindsItsSkinAndHelper) {
    TempDir dir("qg_install_layout");
    unsetenv("QUILLGATE_SKIN");
    const fs::path prefix = dir.path() / "usr";
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "share/quillgate/skin");
    fs::create_directories(prefix / "lib/quillgate");
    testing_support::WriteFile((prefix / "lib/quillgate/qg-rundll").string(), "");
    const fs::path client = dir.path() / "client";
    fs::create_directories(client / "bin");
    testing_support::WriteFile((client / "qg-rundll").string(), "");
    fs::create_directories(dir.path() / "elsewhere");
    ScopedCurrentDir cwd(dir.path() / "elsewhere");

    const std::string installed = (prefix / "bin/quillgate").string();
    EXPECT_EQ(FindSkinFolder(installed), (prefix / "share/quillgate/skin").string());
    EXPECT_EQ(FindRundllProgram(installed), (prefix / "lib/quillgate/qg-rundll").string());

    const std::string inClient = (client / "quillgate.exe").string();
    fs::create_directories(client / "skin");
    EXPECT_EQ(FindSkinFolder(inClient), (client / "skin").string());
    EXPECT_EQ(FindRundllProgram(inClient), (client / "qg-rundll").string());
    // A client folder's own bin/ is no installation: nothing beside it, the beside path.
    EXPECT_EQ(FindRundllProgram((client / "bin/quillgate").string()),
              (client / "bin/qg-rundll").string());

    // The skin of the folder the launcher runs in, then the environment's, come first.
    fs::create_directories(dir.path() / "elsewhere/skin");
    EXPECT_EQ(FindSkinFolder(installed), "skin");
    setenv("QUILLGATE_SKIN", "/some/skin", 1);
    EXPECT_EQ(FindSkinFolder(installed), "/some/skin");
    unsetenv("QUILLGATE_SKIN");
}

}  // namespace
