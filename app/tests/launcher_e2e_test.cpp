// The launcher program itself in a client folder: hand-over, terminal front end,
// self-update and restart, against an update site on 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <vector>

#include "app/launch_app.h"
#include "axp/crc.h"
#include "axp/pack_file.h"
#include "axp/stream.h"
#include "axp/updater.h"
#include "axp/zip_writer.h"
#include "platform/file_lock.h"
#include "platform/process.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"
#include "update/message_table.h"
#include "update/position_key.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;

class LauncherProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::copy_file(QG_LAUNCHER_BINARY, client_ / "quillgate.exe");
        WriteFile(client_ / ".ver", "CN.1.0.0");
        WriteFile(client_ / "quillgate.cfg",
                  "[quillgate]\r\nverinfo=" + server_.Url("/patchinfo.txt") +
                      "\r\nserverlist=" + server_.Url("/server.lst") + "\r\n");
        WriteFile(site_ / "server.lst", "SERVER_BEGIN\r\n1|east\r\n");
        // One sealed package: a loose file and the new version.
        AXP::ZipWriter zip;
        const std::string script = "0||readme.txt|0|00000003\r\n0||.ver|0|00000008\r\n";
        ASSERT_TRUE(zip.Create(site_ / "p1.zip"));
        ASSERT_TRUE(zip.Add("(command)", script.data(), script.size(), true));
        ASSERT_TRUE(zip.Add("readme.txt", "new", 3, true));
        ASSERT_TRUE(zip.Add(".ver", "CN.1.0.1", 8, true));
        ASSERT_TRUE(zip.Finish());
        AXP::Updater converter;
        ASSERT_TRUE(converter.ConvertPackageForm(site_ / "p1.zip", site_ / "p1.jzq"));
    }

    void PublishLauncher(const std::string& version) {
        AXP::ZipWriter zip;
        const std::string next = ReadFile(QG_NEXT_LAUNCHER_BINARY);
        ASSERT_TRUE(zip.Create(site_ / "quillgate.zip"));
        ASSERT_TRUE(zip.Add("quillgate.exe", next.data(), next.size(), true));
        ASSERT_TRUE(zip.Finish());
        WriteFile(site_ / "patchinfo.txt",
                  "[latest]\r\nlatest=CN.1.0.1\r\nquillgate=" + version +
                      "\r\nnewquillgate=" + server_.Url("/quillgate.zip") +
                      "\r\n[patch_1]\r\nfrom=CN.1.0.0\r\nto=CN.1.0.1\r\nurl=" +
                      server_.Url("/p1.jzq") + "\r\n");
    }

    // Runs the launcher in the client folder; its exit code, output in `output`.
    int Launch(const std::string& args, std::string& output, const std::string& env = "") {
        const std::string log = client_ / "launch.log";
        const std::string cmd = "cd '" + client_.path().string() + "' && " + env +
                                " ./quillgate.exe " + args + " > launch.log 2>&1 < /dev/null";
        const int status = std::system(cmd.c_str());
        output = ReadFile(log);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The names in the client folder.
    std::set<std::string> ClientFiles() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(client_.path()))
            names.insert(e.path().filename().string());
        return names;
    }

    static std::string CrcHex(const std::string& data) {
        char text[16];
        std::snprintf(text, sizeof(text), "%08X", AXP::Crc(data.data(), data.size()));
        return text;
    }

    static size_t Occurrences(const std::string& text, const std::string& part) {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    }

    testing_support::TempDir client_{"qg_e2e_client"};
    testing_support::TempDir site_{"qg_e2e_site"};
    testing_support::SiteServer server_{site_.path().string()};
};

TEST_F(LauncherProgramTest, SelfUpdateRestartsTheNewLauncherWhichCompletesTheUpdate) {
    PublishLauncher("CN.9.1");
    std::string output;
    ASSERT_EQ(Launch("--headless", output), 0) << output;
    // The new launcher replaced the installed one and ran from its own copy.
    const std::string next = ReadFile(QG_NEXT_LAUNCHER_BINARY);
    EXPECT_TRUE(ReadFile(client_ / "quillgate.exe") == next);
    EXPECT_TRUE(ReadFile(client_ / "quillgate.bin") == next);
    EXPECT_NE(output.find(GetMessageText(MessageId::kLauncherFetched)), std::string::npos)
        << output;
    EXPECT_EQ(ReadFile(client_ / ".ver"), "CN.1.0.1");
    EXPECT_EQ(ReadFile(client_ / "readme.txt"), "new");
    std::string list = ReadFile(client_ / "download/server.lst");
    ScrambleBuffer(list.data(), list.size());
    EXPECT_EQ(list, ReadFile(site_ / "server.lst"));
    EXPECT_NE(output.find("result 2"), std::string::npos) << output;
}

TEST_F(LauncherProgramTest, DirectRunReportsFailuresWithANonZeroExit) {
    PublishLauncher("CN.9.0");
    std::string output;
    EXPECT_EQ(Launch("-direct --headless", output, "QUILLGATE_FAKE_FREE_BYTES=1000"), 1);
    EXPECT_NE(output.find(GetMessageText(MessageId::kNoDiskSpace)), std::string::npos) << output;
    EXPECT_NE(output.find("result -5"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(client_ / "quillgate.bin")) << "-direct skips the hand-over";

    fs::remove(site_ / "p1.jzq");
    EXPECT_EQ(Launch("-direct --headless", output), 1);
    char expected[256];
    std::snprintf(expected, sizeof(expected), GetMessageText(MessageId::kDownloadFailed), "p1.jzq");
    EXPECT_NE(output.find(expected), std::string::npos) << output;
    EXPECT_NE(output.find(GetMessageText(MessageId::kGoToOperatorSite)), std::string::npos)
        << "the manual-download hint";
    EXPECT_EQ(ReadFile(client_ / ".ver"), "CN.1.0.0");
}

TEST_F(LauncherProgramTest, HelpAndVersionAnswerAndTouchNothing) {
    PublishLauncher("CN.9.0");
    const std::set<std::string> before = ClientFiles();
    std::string output;
    EXPECT_EQ(Launch("--help", output), 0);
    EXPECT_NE(output.find("Usage: quillgate"), std::string::npos) << output;
    EXPECT_EQ(Launch("--headless --version", output), 0);
    EXPECT_EQ(output, "CN.9.0\n");
    EXPECT_EQ(Launch("--files", output), 0);
    EXPECT_EQ(output.rfind("skin ", 0), 0u) << output;
    std::set<std::string> after = ClientFiles();
    after.erase("launch.log");
    EXPECT_EQ(after, before);
}

TEST_F(LauncherProgramTest, ASecondLauncherOnTheSameClientEndsWithoutTouchingIt) {
    PublishLauncher("CN.9.0");
    platform::FileLock first;  // as the launcher that updates the client holds it
    ASSERT_EQ(first.Acquire(client_ / kClientLockFile), platform::FileLock::Result::Acquired);
    const std::set<std::string> before = ClientFiles();
    std::string output;
    EXPECT_EQ(Launch("--headless", output), 1);
    EXPECT_NE(output.find(kAnotherLauncherRunning), std::string::npos) << output;
    std::set<std::string> after = ClientFiles();
    after.erase("launch.log");
    EXPECT_EQ(after, before) << "no hand-over copy, no download";
    EXPECT_EQ(ReadFile(client_ / ".ver"), "CN.1.0.0");
}

TEST_F(LauncherProgramTest, ALauncherPublishedUnderAnotherVersionIsNotInstalled) {
    // The published launcher says CN.9.1 of itself: installed, it would find CN.9.2
    // newer again after every restart.
    PublishLauncher("CN.9.2");
    std::string output;
    ASSERT_EQ(Launch("--headless", output), 0) << output;
    EXPECT_NE(output.find("Access error: quillgate.exe"), std::string::npos) << output;
    EXPECT_TRUE(ReadFile(client_ / "quillgate.exe") == ReadFile(QG_LAUNCHER_BINARY));
    EXPECT_EQ(ReadFile(client_ / ".ver"), "CN.1.0.1");
    EXPECT_EQ(Occurrences(output, GetMessageText(MessageId::kFetchingLauncher)), 1u)
        << "one self-update attempt";
}

TEST_F(LauncherProgramTest, ARestartedLauncherNeverFetchesAnotherLauncher) {
    PublishLauncher("CN.9.1");
    std::string output;
    ASSERT_EQ(Launch(std::string("--headless ") + kAfterSelfUpdateOption, output), 0) << output;
    EXPECT_FALSE(fs::exists(client_ / "download/quillgate.zip"));
    EXPECT_TRUE(ReadFile(client_ / "quillgate.exe") == ReadFile(QG_LAUNCHER_BINARY));
    EXPECT_NE(output.find("result 2"), std::string::npos) << output;
}

TEST_F(LauncherProgramTest, AFailedStartOfTheNetworkLibraryIsReported) {
    PublishLauncher("CN.9.0");
    std::string output;
    EXPECT_EQ(Launch("-direct --headless", output,
                     std::string("ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=") +
                         QG_CURL_INIT_FAILS),
              1);
    EXPECT_NE(output.find(kNetworkInitFailed), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(client_ / "download"));
}

TEST_F(LauncherProgramTest, ARunningGameIsReportedOnceWhenNobodyCanBeAsked) {
    PublishLauncher("CN.9.0");
    // The game (the default "qadr.exe") is running from the client folder.
    fs::copy_file("/bin/sleep", client_ / "qadr.exe");
    uint32_t game = 0;
    ASSERT_TRUE(platform::StartProcess(client_ / "qadr.exe", {"60"}, "", &game));
    std::string output;
    EXPECT_EQ(Launch("-direct --headless", output), 1);
    platform::TerminateProcessById(game);
    platform::WaitForProcess(game);
    EXPECT_EQ(Occurrences(output, GetMessageText(MessageId::kGameRunning)), 1u) << output;
    EXPECT_EQ(ReadFile(client_ / ".ver"), "CN.1.0.0");
}

// A game that cannot start is never a crash nor a silent end: one line on the terminal
// says why, and the exit is 1.
TEST_F(LauncherProgramTest, AGameThatCannotStartSaysWhyOnTheTerminal) {
    PublishLauncher("CN.9.0");
    testing_support::TempDir noWine("qg_e2e_no_wine");
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::string line;
        std::string env;
    } cases[] = {
        {"missing", [] {}, FormatMessage<MessageId::kGameMissing>(client_ / "qadr.exe"), ""},
        {"no execute permission",
         [&] {
             WriteFile(client_ / "qadr.exe", "#!/bin/sh\n");
             chmod((client_ / "qadr.exe").c_str(), 0644);
         },
         FormatMessage<MessageId::kGameNotExecutable>(client_ / "qadr.exe"), ""},
        {"Windows game without wine",
         [&] { WriteFile(client_ / "qadr.exe", std::string("MZ\x90\0\3\0", 6)); },
         FormatMessage<MessageId::kWineMissing>(client_ / "qadr.exe"),
         "PATH=" + noWine.path().string()},
    };
    for (const Case& c : cases) {
        c.arrange();
        std::string output;
        EXPECT_EQ(Launch("-direct --headless --start", output, c.env), 1) << c.what << output;
        EXPECT_NE(output.find("result 2"), std::string::npos) << c.what << output;
        EXPECT_NE(output.find(FormatMessage<MessageId::kGameStartFailed>(c.line)),
                  std::string::npos)
            << c.what << output;
        EXPECT_FALSE(fs::exists(client_ / "style.cfg")) << c.what;
    }
}

// A client folder so deep that the game's command line would pass its bound: the start is
// refused with a clear line, never cut short, never a crash.
TEST_F(LauncherProgramTest, StartingFromAVeryDeepClientFolderIsRefusedClearly) {
    PublishLauncher("CN.9.0");
    fs::path deep = client_.path();
    while (deep.string().size() < 700) deep /= std::string(50, 'd');
    fs::create_directories(deep);
    for (const char* name : {"quillgate.exe", ".ver", "quillgate.cfg"})
        fs::copy_file(client_.path() / name, deep / name);
    WriteFile((deep / "qadr.exe").string(), "#!/bin/sh\necho started > started.txt\n");
    chmod((deep / "qadr.exe").c_str(), 0755);
    const std::string cmd = "cd '" + deep.string() +
                            "' && ./quillgate.exe -direct --headless --start > launch.log 2>&1 "
                            "< /dev/null";
    const int status = std::system(cmd.c_str());
    const std::string output = ReadFile((deep / "launch.log").string());
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 1) << output;
    EXPECT_NE(output.find("result 2"), std::string::npos) << output;
    EXPECT_NE(output.find(FormatMessage<MessageId::kGameCommandLineTooLong>(519)),
              std::string::npos)
        << output;
    EXPECT_FALSE(fs::exists(deep / "started.txt"));
}

TEST_F(LauncherProgramTest, RepairOnTheTerminalTellsByItsExitWhetherItCompleted) {
    PublishLauncher("CN.9.0");
    fs::create_directories(site_.path() / "repair");
    // The release as published: the updated readme and one more file.
    WriteFile(site_ / "repair/current.ver", "current|2\r\nreadme.txt|00000003|" + CrcHex("new") +
                                                "|0|\r\nextra.dat|00000005|" + CrcHex("extra") +
                                                "|0|\r\n");
    WriteFile(site_ / "repair/readme.txt", "new");
    WriteFile(site_ / "repair/extra.dat", "extra");
    const std::string config = ReadFile(client_ / "quillgate.cfg");
    WriteFile(client_ / "quillgate.cfg", config + "repair=" + server_.Url("/repair/") + "\r\n");

    std::string output;
    ASSERT_EQ(Launch("-direct --headless --repair", output), 0) << output;
    EXPECT_NE(output.find("result 2"), std::string::npos) << output;
    EXPECT_NE(output.find("repair completed, repaired 1"), std::string::npos) << output;
    EXPECT_EQ(ReadFile(client_ / "extra.dat"), "extra");

    // A file the site cannot give: the repair does not complete.
    fs::remove(client_ / "extra.dat");
    fs::remove(site_ / "repair/extra.dat");
    EXPECT_EQ(Launch("-direct --headless --repair", output), 1) << output;
    EXPECT_NE(output.find("repair not completed"), std::string::npos) << output;

    // An update that fails runs no repair, and says how the update ended.
    EXPECT_EQ(Launch("-direct --headless --repair", output, "QUILLGATE_FAKE_FREE_BYTES=1000"), 1);
    EXPECT_NE(output.find("result -5"), std::string::npos) << output;
    EXPECT_EQ(output.find("repair"), std::string::npos) << output;

    // No repair site configured: nothing to repair with.
    WriteFile(client_ / "quillgate.cfg", config);
    EXPECT_EQ(Launch("-direct --headless --repair", output), 1) << output;
    EXPECT_EQ(Launch("-direct --headless", output), 0) << output;
}

TEST_F(LauncherProgramTest, CtrlCDuringTheRepairStopsItAndWaitsForIt) {
    PublishLauncher("CN.9.0");
    fs::create_directories(site_.path() / "repair");
    WriteFile(site_ / "repair/current.ver", "current|1\r\nslow.dat|00100000|12345678|0|\r\n");
    // A repair site whose one file never arrives: the repair waits in its download.
    const std::string marker = site_ / "download-started";
    testing_support::PythonServer repairSite(
        QG_STATIC_SERVER, {site_.path().string(), "--stall", "/repair/slow.dat", marker});
    const std::string config = ReadFile(client_ / "quillgate.cfg");
    WriteFile(client_ / "quillgate.cfg", config + "repair=" + repairSite.Url("/repair/") + "\r\n");
    uint32_t launcher = 0;
    ASSERT_TRUE(platform::StartProcess(
        "/bin/sh", {"-c", "exec ./quillgate.exe -direct --headless --repair > launch.log 2>&1"},
        client_.path().string(), &launcher));
    // Only waits for the download to begin; a launcher that never gets there fails below.
    for (int i = 0; i < 6000 && !fs::exists(marker); ++i) platform::SleepMilliseconds(10);
    ASSERT_TRUE(fs::exists(marker));
    kill(static_cast<pid_t>(launcher), SIGINT);
    EXPECT_EQ(platform::WaitForProcess(launcher), 1);
    const std::string output = ReadFile(client_ / "launch.log");
    EXPECT_NE(output.find("repair not completed, repaired 0"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(client_ / "slow.dat"));
}

// With --json, standard output carries one JSON object per event and nothing else, through
// the whole run: the update, the repair after it, and the ends of both. Python's json module
// reads the lines (testing/json_lines_summary.py prints one summary per object).
class LauncherJsonTest : public LauncherProgramTest {
  protected:
    // The summaries of the run's lines; fails the test when a line is not a JSON object.
    std::vector<std::string> RunJson(const std::string& args, int expectedExit) {
        WriteFile(client_ / "run-json.sh",
                  std::string("./quillgate.exe ") + args +
                      " --json 2> launch.err < /dev/null | tee lines.json | " + QG_SYSTEM_PYTHON +
                      " " + QG_JSON_SUMMARY +
                      " > summary.txt\necho ${PIPESTATUS[0]} ${PIPESTATUS[1]} > status.txt\n");
        const std::string cmd = "cd '" + client_.path().string() + "' && bash run-json.sh";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        EXPECT_EQ(ReadFile(client_ / "status.txt"), std::to_string(expectedExit) + " 0\n")
            << ReadFile(client_ / "lines.json") << ReadFile(client_ / "summary.txt")
            << ReadFile(client_ / "launch.err");
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(client_ / "summary.txt"));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // The index of the first summary at or after `from` that begins with `prefix`.
    static size_t Find(const std::vector<std::string>& lines, const std::string& prefix,
                       size_t from = 0) {
        for (size_t i = from; i < lines.size(); ++i)
            if (lines[i].rfind(prefix, 0) == 0) return i;
        return std::string::npos;
    }
    static std::string Joined(const std::vector<std::string>& lines) {
        std::string all;
        for (const std::string& line : lines) all += line + "\n";
        return all;
    }
};

TEST_F(LauncherJsonTest, AnUpdateAndARepairAreJsonLinesInTheOrderTheyHappen) {
    PublishLauncher("CN.9.0");
    fs::create_directories(site_.path() / "repair");
    WriteFile(site_ / "repair/current.ver",
              "current|1\r\nextra.dat|00000005|" + CrcHex("extra") + "|0|\r\n");
    WriteFile(site_ / "repair/extra.dat", "extra");
    const std::string config = ReadFile(client_ / "quillgate.cfg");
    WriteFile(client_ / "quillgate.cfg", config + "repair=" + server_.Url("/repair/") + "\r\n");

    const std::vector<std::string> lines = RunJson("-direct --headless --repair", 0);
    const std::string all = Joined(lines);
    // The update: its steps, the versions, a download with its figures, both bars full.
    ASSERT_EQ(Find(lines, "status update text=<text> error=false"), 0u) << all;
    const size_t versions = Find(lines, "extra update text=<text>");
    const size_t download = Find(lines, "progress update file=", versions);
    const size_t done = Find(lines, "done update result=2", download);
    const size_t result = Find(lines, "result result=2", done);
    const size_t repairStatus = Find(lines, "status repair", result);
    const size_t repairDone = Find(lines, "done repair repaired=1", repairStatus);
    ASSERT_NE(repairDone, std::string::npos) << all;
    EXPECT_LT(Find(lines, "progress update file=100 total=100 marquee=false"), done) << all;
    EXPECT_NE(all.find(" bytes="), std::string::npos) << all;
    EXPECT_EQ(lines.back(), "repair started=true completed=true repaired=1") << all;
    EXPECT_EQ(ReadFile(client_ / "extra.dat"), "extra");
}

TEST_F(LauncherJsonTest, FailuresAndTheManualDownloadAreLinesToo) {
    PublishLauncher("CN.9.0");
    // A package the servers do not have: the manual download.
    fs::remove(site_ / "p1.jzq");
    std::vector<std::string> lines = RunJson("-direct --headless", 1);
    EXPECT_NE(Find(lines, "error update text=<text>"), std::string::npos) << Joined(lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "manual-download text=<text> site=<text>") << Joined(lines);

    // No update address: the error, then the result.
    WriteFile(client_ / "quillgate.cfg", "[quillgate]\r\n");
    lines = RunJson("-direct --headless", 1);
    const size_t error = Find(lines, "error update text=<text>");
    EXPECT_NE(Find(lines, "result result=-3", error), std::string::npos) << Joined(lines);
}

}  // namespace
