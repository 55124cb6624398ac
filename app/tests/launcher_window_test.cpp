// The launcher's window as a user meets it, under a display (scripts/test runs these
// under Xvfb): the program runs in a client folder against an update site on 127.0.0.1;
// the test looks at screenshots and presses keys and buttons with synthetic input
// (xdotool). Screenshots are kept in artefacts/ of the test's build folder.
#include <cairo.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/launch_dialog_layout.h"
#include "axp/crc.h"
#include "axp/updater.h"
#include "axp/zip_writer.h"
#include "platform/process.h"
#include "platform/process_output.h"
#include "platform/ui/progress_bar.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace launch_dialog;
using testing_support::ReadFile;
using testing_support::WriteFile;

constexpr uint32_t kNewsColour = 0x24344C;  // the test page's background
constexpr uint32_t kLabelRgb = 0xFAFA00;    // 0x0000FAFA as red, green, blue
constexpr uint32_t kErrorRgb = 0xFF0019;    // 0x001900FF
constexpr int kTimeoutMs = 60000;           // a time-out only; nothing is timed

uint32_t Rgb(platform::ui::Colour c) {
    return (platform::ui::RedOf(c) << 16) | (platform::ui::GreenOf(c) << 8) |
           platform::ui::BlueOf(c);
}

// A PNG in memory.
class Image {
  public:
    explicit Image(const std::string& path)
        : s_(cairo_image_surface_create_from_png(path.c_str())) {}
    ~Image() { cairo_surface_destroy(s_); }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    bool ok() const { return cairo_surface_status(s_) == CAIRO_STATUS_SUCCESS; }
    int width() const { return ok() ? cairo_image_surface_get_width(s_) : 0; }
    int height() const { return ok() ? cairo_image_surface_get_height(s_) : 0; }
    uint32_t At(int x, int y) const {
        if (x < 0 || y < 0 || x >= width() || y >= height()) return 0xFFFFFFFF;
        const unsigned char* row =
            cairo_image_surface_get_data(s_) + y * cairo_image_surface_get_stride(s_);
        return *reinterpret_cast<const uint32_t*>(row + x * 4) & 0xFFFFFF;
    }
    // Whether any pixel of the rectangle has colour `rgb`.
    bool Holds(const platform::ui::Rect& r, uint32_t rgb, int dx = 0, int dy = 0) const {
        for (int y = r.y; y < r.y + r.height; ++y)
            for (int x = r.x; x < r.x + r.width; ++x)
                if (At(x + dx, y + dy) == rgb) return true;
        return false;
    }

  private:
    cairo_surface_t* s_;
};

std::string RunTool(const std::string& program, const std::vector<std::string>& args) {
    std::string out;
    int code = 0;
    const std::string path = program[0] == '/' ? program : platform::FindProgramInPath(program);
    platform::RunForOutput(path, args, 20000, 1 << 20, out, code);
    return out;
}

struct XWindow {
    std::string id;
    int x = 0, y = 0, width = 0, height = 0;
};

std::vector<XWindow> WindowsOf(uint32_t pid) {
    std::vector<XWindow> windows;
    std::istringstream ids(
        RunTool("xdotool", {"search", "--onlyvisible", "--pid", std::to_string(pid)}));
    for (std::string id; ids >> id;) {
        XWindow w{id};
        std::istringstream geometry(RunTool("xdotool", {"getwindowgeometry", "--shell", id}));
        for (std::string line; std::getline(geometry, line);) {
            const size_t eq = line.find('=');
            if (eq == std::string::npos) continue;
            const int value = std::atoi(line.c_str() + eq + 1);
            const std::string key = line.substr(0, eq);
            if (key == "X") w.x = value;
            if (key == "Y") w.y = value;
            if (key == "WIDTH") w.width = value;
            if (key == "HEIGHT") w.height = value;
        }
        windows.push_back(w);
    }
    return windows;
}

bool Poll(const std::function<bool()>& done, int timeoutMs = kTimeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

bool ProcessEnded(uint32_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    return stat.empty() ||
           (paren != std::string::npos && stat.size() > paren + 2 && stat[paren + 2] == 'Z');
}

class LauncherWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        ASSERT_TRUE(display != nullptr && *display != '\0')
            << "needs a display: run under xvfb-run (scripts/test does)";
        fs::create_directories(kArtefacts);
        fs::copy_file(QG_LAUNCHER_BINARY, client_ / "quillgate.exe");
        WriteFile(client_ / ".ver", "CN.1.0.0");
        WriteFile(site_ / "server.lst", "SERVER_BEGIN\r\n1|east\r\n");
        WriteFile(
            site_ / "news.html",
            "<html><body style='background:#24344c;color:#e8e0c8;margin:0;padding:8px 14px;"
            "font-family:sans-serif'><h2 style='color:#f0dc8c;margin:4px 0'>Brevane news</h2>"
            "<p>Version 1.0.1 is out: new maps and a faster start.</p>"
            "<p><a style='color:#8cc8ff' href='/notes.html'>Read the notes</a></p></body></html>");
        AXP::ZipWriter zip;
        const std::string script = "0||readme.txt|0|00000003\r\n0||.ver|0|00000008\r\n";
        ASSERT_TRUE(zip.Create(site_ / "p1.zip"));
        ASSERT_TRUE(zip.Add("(command)", script.data(), script.size(), true));
        ASSERT_TRUE(zip.Add("readme.txt", "new", 3, true));
        ASSERT_TRUE(zip.Add(".ver", "CN.1.0.1", 8, true));
        ASSERT_TRUE(zip.Finish());
        AXP::Updater converter;
        ASSERT_TRUE(converter.ConvertPackageForm(site_ / "p1.zip", site_ / "p1.jzq"));
        WriteFile(site_ / "patchinfo.txt",
                  "[latest]\r\nlatest=CN.1.0.1\r\nquillgate=CN.9.0\r\nnewquillgate=" +
                      server_.Url("/quillgate.zip") +
                      "\r\n[patch_1]\r\nfrom=CN.1.0.0\r\nto=CN.1.0.1\r\nurl=" +
                      server_.Url("/p1.jzq") + "\r\n");
        WriteConfig("");
        // The game double says how it was started.
        WriteFile(client_ / "qadr.exe", "#!/bin/sh\necho \"$@\" > game_args.txt\n");
        fs::permissions(client_ / "qadr.exe", fs::perms::owner_all);
        // The first-run mark lives in a registry file of the test's own.
        platform::SetEnvironmentVariable("QG_REGISTRY_HKCU", client_ / "registry");
        RunTool("xdotool", {"mousemove", "1270", "890"});  // off every control
    }

    void TearDown() override {
        if (pid_ == 0) return;
        // Closed as a user would, so that its page's helper processes end with it.
        if (!ProcessEnded(pid_)) {
            Click(Button(kClose).rect.x + 7, Button(kClose).rect.y + 7);
            if (!EndsWithin(10000)) platform::TerminateProcessById(pid_);
        }
        platform::WaitForProcess(pid_);
    }

    void WriteConfig(const std::string& extra) {
        WriteFile(client_ / "quillgate.cfg",
                  "[quillgate]\r\nverinfo=" + server_.Url("/patchinfo.txt") +
                      "\r\nserverlist=" + server_.Url("/server.lst") +
                      "\r\nweb=" + server_.Url("/news.html") + "\r\n" + extra);
    }

    // Starts the launcher and waits for its main window.
    void Launch() {
        ASSERT_TRUE(platform::StartProcess(client_ / "quillgate.exe", {"-direct"},
                                           client_.path().string(), &pid_));
        ASSERT_TRUE(Poll([&] { return FindWindow(736, main_); })) << "no main window";
    }

    bool FindWindow(int width, XWindow& out) {
        for (const XWindow& w : WindowsOf(pid_))
            if (w.width == width) {
                out = w;
                return true;
            }
        return false;
    }

    // A screenshot of the whole display, kept as artefacts/NAME.png.
    std::unique_ptr<Image> Shot(const std::string& name) {
        const std::string path = kArtefacts + "/" + name + ".png";
        RunTool("/usr/bin/python3",
                {"-c",
                 "import os, sys\nfrom PIL import ImageGrab\n"
                 "ImageGrab.grab(xdisplay=os.environ['DISPLAY']).save(sys.argv[1])",
                 path});
        return std::make_unique<Image>(path);
    }

    // Polls screenshots until `seen` holds for one; that one is kept as NAME.png.
    bool WaitForScreen(const std::string& name, const std::function<bool(const Image&)>& seen) {
        return Poll([&] {
            auto image = Shot(name);
            return image->ok() && seen(*image);
        });
    }

    // Whether the picture of a skin bitmap is on screen at `rect` of the main window.
    bool ShowsBitmap(const Image& screen, int bitmapId, const Rect& rect) {
        Image bitmap(std::string(QG_SKIN_DIR) + "/" + std::to_string(bitmapId) + ".png");
        if (!bitmap.ok()) return false;
        for (int y = 2; y < rect.height - 2; y += 3)
            for (int x = 2; x < rect.width - 2; x += 3)
                if (screen.At(main_.x + rect.x + x, main_.y + rect.y + y) != bitmap.At(x, y))
                    return false;
        return true;
    }

    bool StartEnabled(const Image& screen) {
        return ShowsBitmap(screen, Button(kStartGame).bitmaps[0], Button(kStartGame).rect);
    }
    // Bitmap 0 normal, 2 hover, 3 disabled of a button.
    bool Shows(const Image& screen, int id, int which) {
        return ShowsBitmap(screen, Button(id).bitmaps[which], Button(id).rect);
    }

    // Puts the pointer over the home-page button and waits until it shows its hover
    // picture: every key and click sent before has then been handled by the window.
    bool InputHandled(const std::string& name) {
        const Rect& r = Button(kHomePage).rect;
        RunTool("xdotool", {"mousemove", std::to_string(main_.x + r.x + r.width / 2),
                            std::to_string(main_.y + r.y + r.height / 2)});
        const bool seen =
            WaitForScreen(name, [&](const Image& s) { return Shows(s, kHomePage, 2); });
        RunTool("xdotool", {"mousemove", "1270", "890"});
        return seen;
    }

    // The patch information with the package at `packageUrl`.
    void WritePatchInfo(const std::string& packageUrl) {
        WriteFile(site_ / "patchinfo.txt",
                  "[latest]\r\nlatest=CN.1.0.1\r\nquillgate=CN.9.0\r\nnewquillgate=" +
                      server_.Url("/quillgate.zip") +
                      "\r\n[patch_1]\r\nfrom=CN.1.0.0\r\nto=CN.1.0.1\r\nurl=" + packageUrl +
                      "\r\n");
    }

    // A repair list under site/repair/ naming one loose file of `size` bytes and `crc`.
    void PublishRepairList(const std::string& name, uint32_t size, uint32_t crc) {
        char line[128];
        std::snprintf(line, sizeof(line), "%s|%08X|%08X|0|\r\n", name.c_str(), size, crc);
        fs::create_directories(site_.path() / "repair");
        WriteFile(site_ / "repair/current.ver", std::string("current|1\r\n") + line);
    }

    void Click(int x, int y) {
        RunTool("xdotool", {"mousemove", std::to_string(main_.x + x), std::to_string(main_.y + y)});
        RunTool("xdotool", {"click", "1"});
    }

    void Key(const std::string& key, int overX = 100, int overY = 200,
             const XWindow* window = nullptr) {
        const XWindow& w = window ? *window : main_;
        // Keys go to the window under the pointer (there is no window manager).
        RunTool("xdotool", {"mousemove", std::to_string(w.x + overX), std::to_string(w.y + overY)});
        RunTool("xdotool", {"key", key});
    }

    bool EndsWithin(int timeoutMs = kTimeoutMs) {
        return Poll([&] { return ProcessEnded(pid_); }, timeoutMs);
    }

    const std::string kArtefacts = "artefacts";
    testing_support::TempDir client_{"qg_window_client"};
    testing_support::TempDir site_{"qg_window_site"};
    testing_support::SiteServer server_{site_.path().string()};
    uint32_t pid_ = 0;
    XWindow main_;
};

TEST_F(LauncherWindowTest, TheReadyWindowShowsItsSkinLinesBarsNewsPageAndStartButton) {
    Launch();
    ASSERT_TRUE(WaitForScreen("window_ready", [&](const Image& s) {
        return StartEnabled(s) &&
               s.At(main_.x + kBrowser.x + 400, main_.y + kBrowser.y + 200) == kNewsColour;
    })) << "the start button never showed its normal picture with the news page loaded";
    auto screen = Shot("window_ready");
    // The window alone, as the README shows it.
    RunTool("/usr/bin/python3",
            {"-c",
             "import sys\nfrom PIL import Image\nx, y, w, h = map(int, sys.argv[3:7])\n"
             "Image.open(sys.argv[1]).crop((x, y, x + w, y + h)).save(sys.argv[2])",
             kArtefacts + "/window_ready.png", kArtefacts + "/window.png", std::to_string(main_.x),
             std::to_string(main_.y), std::to_string(main_.width), std::to_string(main_.height)});
    Image background(std::string(QG_SKIN_DIR) + "/131.png");
    ASSERT_TRUE(background.ok());
    EXPECT_EQ(main_.width, background.width());
    EXPECT_EQ(main_.height, background.height());
    for (auto [x, y] : {std::pair{5, 250}, std::pair{400, 50}, std::pair{730, 470}})
        EXPECT_EQ(screen->At(main_.x + x, main_.y + y), background.At(x, y)) << x << "," << y;
    EXPECT_TRUE(screen->Holds(kStatusRect, kLabelRgb, main_.x, main_.y)) << "status text colour";
    EXPECT_FALSE(screen->Holds(kStatusRect, kErrorRgb, main_.x, main_.y));
    const uint32_t fill = Rgb(platform::ui::kProgressFillColour);
    for (int x : {2, kLowerBarRect.width / 2, kLowerBarRect.width - 3})
        EXPECT_EQ(screen->At(main_.x + kLowerBarRect.x + x,
                             main_.y + kLowerBarRect.y + kLowerBarRect.height / 2),
                  fill)
            << "the lower bar is full at " << x;
    EXPECT_EQ(ReadFile(client_ / ".ver"), "CN.1.0.1");
}

TEST_F(LauncherWindowTest, TheStartButtonAndEnterStartTheGameInTheChosenStyle) {
    struct Case {
        const char* how;
        bool quick;
        const char* args;
    } cases[] = {{"click", false, "-run\n"}, {"enter", true, "-run -qstyle\n"}};
    for (const Case& c : cases) {
        fs::remove(client_ / "game_args.txt");
        fs::remove(client_ / "style.cfg");
        WriteFile(client_ / ".ver", "CN.1.0.0");
        Launch();
        ASSERT_TRUE(WaitForScreen(std::string("window_before_") + c.how, [&](const Image& s) {
            return StartEnabled(s);
        })) << c.how;
        if (c.quick) Click(Button(kQuickStyle).rect.x + 44, Button(kQuickStyle).rect.y + 12);
        if (std::string(c.how) == "click") {
            Click(Button(kStartGame).rect.x + 90, Button(kStartGame).rect.y + 16);
        } else {
            Key("Escape");  // swallowed: the window stays, and the next key still reaches it
            Key("Return");
        }
        ASSERT_TRUE(EndsWithin()) << c.how << ": the window closes once the game started";
        platform::WaitForProcess(pid_);
        pid_ = 0;
        ASSERT_TRUE(Poll([&] { return fs::exists(client_ / "game_args.txt"); })) << c.how;
        EXPECT_EQ(ReadFile(client_ / "game_args.txt"), c.args) << c.how;
        EXPECT_NE(ReadFile(client_ / "style.cfg").find(c.quick ? "qstyle=1" : "qstyle=0"),
                  std::string::npos)
            << c.how << ": " << ReadFile(client_ / "style.cfg");
    }
}

TEST_F(LauncherWindowTest, AFailedUpdateShowsItsStatusInRedAndKeepsTheWindowOpen) {
    fs::remove(site_ / "patchinfo.txt");
    Launch();
    ASSERT_TRUE(WaitForScreen("window_error", [&](const Image& s) {
        return s.Holds(kStatusRect, kErrorRgb, main_.x, main_.y);
    }));
    auto screen = Shot("window_error");
    EXPECT_TRUE(ShowsBitmap(*screen, Button(kStartGame).bitmaps[3], Button(kStartGame).rect))
        << "start stays disabled";
    Key("Return");  // Enter is no way round the disabled start button
    Key("Escape");
    EXPECT_FALSE(ProcessEnded(pid_));
    EXPECT_FALSE(fs::exists(client_ / "game_args.txt"));
}

TEST_F(LauncherWindowTest, TheRepairButtonIsOfferedWithARepairSiteAndRestoresADamagedFile) {
    // Without a repair site the button stays disabled once the update is done.
    Launch();
    ASSERT_TRUE(WaitForScreen("window_no_repair", [&](const Image& s) {
        return StartEnabled(s) && ShowsBitmap(s, Button(kRepair).bitmaps[3], Button(kRepair).rect);
    })) << "repair offered without a repair site";
    Click(Button(kClose).rect.x + 7, Button(kClose).rect.y + 7);
    ASSERT_TRUE(EndsWithin());
    platform::WaitForProcess(pid_);
    pid_ = 0;

    const std::string published = "new";
    char line[64];
    std::snprintf(line, sizeof(line), "readme.txt|%08X|%08X|0|\r\n",
                  static_cast<unsigned>(published.size()),
                  static_cast<unsigned>(AXP::Crc(published.data(), published.size())));
    fs::create_directories(site_.path() / "repair");
    WriteFile(site_ / "repair/current.ver", std::string("current|1\r\n") + line);
    WriteFile(site_ / "repair/readme.txt", published);
    WriteConfig("repair=" + server_.Url("/repair/") + "\r\n");
    WriteFile(client_ / "readme.txt", "bad");  // damaged after the update
    Launch();
    ASSERT_TRUE(WaitForScreen("window_repair_offered", [&](const Image& s) {
        return StartEnabled(s) && ShowsBitmap(s, Button(kRepair).bitmaps[0], Button(kRepair).rect);
    })) << "repair not offered with a repair site";
    Click(Button(kRepair).rect.x + 40, Button(kRepair).rect.y + 12);
    RunTool("xdotool", {"mousemove", "1270", "890"});  // so the button is not hovered
    ASSERT_TRUE(Poll([&] { return ReadFile(client_ / "readme.txt") == published; }))
        << "the damaged file was not restored";
    // Done: start and repair are offered again, and the status line is no error.
    ASSERT_TRUE(WaitForScreen("window_repair_done", [&](const Image& s) {
        return StartEnabled(s) && ShowsBitmap(s, Button(kRepair).bitmaps[0], Button(kRepair).rect);
    }));
    EXPECT_FALSE(Shot("window_repair_done")->Holds(kStatusRect, kErrorRgb, main_.x, main_.y));
    EXPECT_EQ(ReadFile(client_ / ".ver"), "CN.1.0.1");
}

// While the update still writes the packs, the repair button is not offered (nor start).
TEST_F(LauncherWindowTest, RepairIsNotOfferedWhileASlowUpdateRuns) {
    const std::string marker = site_ / "download-started";
    testing_support::PythonServer slow(QG_STATIC_SERVER,
                                       {site_.path().string(), "--stall", "/p1.jzq", marker});
    WritePatchInfo(slow.Url("/p1.jzq"));
    PublishRepairList("readme.txt", 3, AXP::Crc("new", 3));
    WriteConfig("repair=" + server_.Url("/repair/") + "\r\n");
    Launch();
    ASSERT_TRUE(Poll([&] { return fs::exists(marker); })) << "the package download never began";
    ASSERT_TRUE(WaitForScreen("window_slow_update", [&](const Image& s) {
        return Shows(s, kRepair, 3) && Shows(s, kStartGame, 3);
    })) << "repair offered while the update runs";
    Click(Button(kRepair).rect.x + 40, Button(kRepair).rect.y + 12);
    ASSERT_TRUE(InputHandled("window_slow_update_after_click"));
    EXPECT_TRUE(Shows(*Shot("window_slow_update_after_click"), kRepair, 3));
    EXPECT_EQ(ReadFile(client_ / ".ver"), "CN.1.0.0");
}

// While a repair runs, start stays off (the button and Enter); closing stops the repair.
TEST_F(LauncherWindowTest, StartStaysOffWhileARepairRuns) {
    const std::string marker = site_ / "repair-download-started";
    testing_support::PythonServer slow(
        QG_STATIC_SERVER, {site_.path().string(), "--stall", "/repair/slow.dat", marker});
    PublishRepairList("slow.dat", 0x100000, 0x12345678);
    WriteConfig("repair=" + slow.Url("/repair/") + "\r\n");
    Launch();
    ASSERT_TRUE(WaitForScreen("window_before_repair", [&](const Image& s) {
        return StartEnabled(s) && Shows(s, kRepair, 0);
    }));
    Click(Button(kRepair).rect.x + 40, Button(kRepair).rect.y + 12);
    ASSERT_TRUE(Poll([&] { return fs::exists(marker); })) << "the repair's download never began";
    ASSERT_TRUE(WaitForScreen("window_repair_running", [&](const Image& s) {
        return Shows(s, kStartGame, 3) && Shows(s, kRepair, 3);
    })) << "start or repair offered while the repair runs";
    Key("Return");
    Click(Button(kStartGame).rect.x + 90, Button(kStartGame).rect.y + 16);
    ASSERT_TRUE(InputHandled("window_repair_running_after_enter")) << "the window went";
    EXPECT_FALSE(ProcessEnded(pid_));
    EXPECT_FALSE(fs::exists(client_ / "game_args.txt")) << "the game started under the repair";
    Click(Button(kClose).rect.x + 7, Button(kClose).rect.y + 7);
    EXPECT_TRUE(EndsWithin()) << "closing stops the repair and then closes";
    EXPECT_FALSE(fs::exists(client_ / "slow.dat"));
}

// A repair that fails gives the player the way on: start and repair are offered again,
// with the failure on the status line, and Enter starts the game.
TEST_F(LauncherWindowTest, AFailedRepairGivesStartAndRepairBackWithTheFailureShown) {
    fs::create_directories(site_.path() / "repair");  // but no list published in it
    WriteConfig("repair=" + server_.Url("/repair/") + "\r\n");
    Launch();
    ASSERT_TRUE(WaitForScreen("window_before_failed_repair", [&](const Image& s) {
        return StartEnabled(s) && Shows(s, kRepair, 0);
    }));
    Click(Button(kRepair).rect.x + 40, Button(kRepair).rect.y + 12);
    RunTool("xdotool", {"mousemove", "1270", "890"});
    ASSERT_TRUE(WaitForScreen("window_repair_failed", [&](const Image& s) {
        return s.Holds(kStatusRect, kErrorRgb, main_.x, main_.y) && StartEnabled(s) &&
               Shows(s, kRepair, 0);
    })) << "start and repair stayed off after the failed repair";
    Key("Return");
    ASSERT_TRUE(EndsWithin()) << "Enter starts the game after the failed repair";
    platform::WaitForProcess(pid_);
    pid_ = 0;
    ASSERT_TRUE(Poll([&] { return fs::exists(client_ / "game_args.txt"); }));
    EXPECT_EQ(ReadFile(client_ / "game_args.txt"), "-run\n");
}

// A game that cannot start says why in a message box; the window stays for another try.
TEST_F(LauncherWindowTest, AGameThatCannotStartSaysWhyAndTheWindowStays) {
    fs::permissions(client_ / "qadr.exe", fs::perms::owner_read | fs::perms::owner_write);
    Launch();
    ASSERT_TRUE(
        WaitForScreen("window_before_start", [&](const Image& s) { return StartEnabled(s); }));
    Click(Button(kStartGame).rect.x + 90, Button(kStartGame).rect.y + 16);
    XWindow box;
    ASSERT_TRUE(Poll([&] {
        for (const XWindow& w : WindowsOf(pid_))
            if (w.width != 736) {
                box = w;
                return true;
            }
        return false;
    })) << "no message box";
    Shot("game_cannot_start");
    Key("Return", box.width / 2, box.height / 2, &box);  // its OK
    ASSERT_TRUE(Poll([&] { return WindowsOf(pid_).size() == 1; })) << "the box stays";
    EXPECT_FALSE(ProcessEnded(pid_)) << "the window stays";
    EXPECT_FALSE(fs::exists(client_ / "style.cfg"));
    // Mended, the game starts from the same window.
    fs::permissions(client_ / "qadr.exe", fs::perms::owner_all);
    ASSERT_TRUE(WaitForScreen("window_after_box", [&](const Image& s) { return StartEnabled(s); }));
    Click(Button(kStartGame).rect.x + 90, Button(kStartGame).rect.y + 16);
    EXPECT_TRUE(EndsWithin());
}

class RunningGameTest : public LauncherWindowTest {
  protected:
    void SetUp() override {
        LauncherWindowTest::SetUp();
        fs::remove(client_ / "qadr.exe");
        fs::copy_file("/bin/sleep", client_ / "qadr.exe");
        ASSERT_TRUE(platform::StartProcess(client_ / "qadr.exe", {"120"}, "", &game_));
    }
    void TearDown() override {
        if (!ProcessEnded(game_)) platform::TerminateProcessById(game_);
        platform::WaitForProcess(game_);
        LauncherWindowTest::TearDown();
    }
    XWindow KillDialog() {
        XWindow dialog;
        EXPECT_TRUE(Poll([&] { return FindWindow(380, dialog); })) << "no kill dialog";
        return dialog;
    }
    uint32_t game_ = 0;
};

TEST_F(RunningGameTest, ForceCloseEndsTheGameAndTheUpdateGoesOn) {
    Launch();
    const XWindow dialog = KillDialog();
    Shot("kill_dialog");
    RunTool("xdotool",
            {"mousemove", std::to_string(dialog.x + 58 + 40), std::to_string(dialog.y + 106 + 14)});
    RunTool("xdotool", {"click", "1"});
    ASSERT_TRUE(Poll([&] { return ProcessEnded(game_); })) << "the game was not ended";
    ASSERT_TRUE(
        WaitForScreen("window_after_force_close", [&](const Image& s) { return StartEnabled(s); }));
    EXPECT_EQ(ReadFile(client_ / ".ver"), "CN.1.0.1");
}

TEST_F(RunningGameTest, CancelStopsTheUpdateWithTheRunningGameMessage) {
    Launch();
    const XWindow dialog = KillDialog();
    Key("Escape", 100, 50, &dialog);
    // The question box: Yes is its default answer.
    XWindow question;
    ASSERT_TRUE(Poll([&] {
        for (const XWindow& w : WindowsOf(pid_))
            if (w.width != 736 && w.width != 380) {
                question = w;
                return true;
            }
        return false;
    })) << "no question";
    Shot("kill_dialog_question");
    Key("Return", question.width / 2, question.height / 2, &question);
    ASSERT_TRUE(WaitForScreen("window_after_cancel", [&](const Image& s) {
        return s.Holds(kStatusRect, kErrorRgb, main_.x, main_.y);
    }));
    EXPECT_FALSE(ProcessEnded(game_)) << "the game was left alone";
    EXPECT_EQ(ReadFile(client_ / ".ver"), "CN.1.0.0");
}

TEST_F(LauncherWindowTest, ALinkClickedInTheNewsPageOpensInTheUsersBrowser) {
    // The user's browser is a double that notes the address it was given.
    testing_support::TempDir bin("qg_window_bin");
    WriteFile(bin / "xdg-open", "#!/bin/sh\necho \"$1\" >> '" + (client_ / "opened.txt") + "'\n");
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    platform::SetEnvironmentVariable("PATH", bin.path().string() + ":" + path);
    Launch();
    platform::SetEnvironmentVariable("PATH", path);
    ASSERT_TRUE(WaitForScreen("window_news", [&](const Image& s) {
        return s.At(main_.x + kBrowser.x + 400, main_.y + kBrowser.y + 200) == kNewsColour;
    }));
    // "Read the notes", the third line of the page.
    Click(kBrowser.x + 60, kBrowser.y + 100);
    ASSERT_TRUE(Poll([&] { return fs::exists(client_ / "opened.txt"); })) << "no browser was asked";
    EXPECT_EQ(ReadFile(client_ / "opened.txt"), server_.Url("/notes.html") + "\n");
    auto screen = Shot("window_news_after_click");
    EXPECT_EQ(screen->At(main_.x + kBrowser.x + 400, main_.y + kBrowser.y + 200), kNewsColour)
        << "the page stayed";
}

// Only web pages reach the user's browser: links to a file or a share do nothing.
TEST_F(LauncherWindowTest, NewsLinksToFilesOrSharesNeverReachTheOpener) {
    testing_support::TempDir bin("qg_window_bin");
    WriteFile(bin / "xdg-open", "#!/bin/sh\necho \"$1\" >> '" + (client_ / "opened.txt") + "'\n");
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    const auto block = [](const char* href, int top) {
        return std::string("<a href='") + href +
               "' style='position:absolute;left:10px;width:300px;height:40px;display:block;"
               "color:#8cc8ff;top:" +
               std::to_string(top) + "px'>" + href + "</a>";
    };
    WriteFile(site_ / "news.html", "<html><body style='background:#24344c;margin:0'>" +
                                       block("smb://127.0.0.1/share/readme.txt", 10) +
                                       block("file:///etc/passwd", 60) + block("/notes.html", 110) +
                                       "</body></html>");
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    platform::SetEnvironmentVariable("PATH", bin.path().string() + ":" + path);
    Launch();
    platform::SetEnvironmentVariable("PATH", path);
    ASSERT_TRUE(WaitForScreen("window_news_links", [&](const Image& s) {
        return s.At(main_.x + kBrowser.x + 400, main_.y + kBrowser.y + 200) == kNewsColour;
    }));
    Click(kBrowser.x + 60, kBrowser.y + 30);   // smb:
    Click(kBrowser.x + 60, kBrowser.y + 80);   // file:
    Click(kBrowser.x + 60, kBrowser.y + 130);  // the web page, last
    ASSERT_TRUE(Poll([&] { return fs::exists(client_ / "opened.txt"); })) << "no browser was asked";
    EXPECT_EQ(ReadFile(client_ / "opened.txt"), server_.Url("/notes.html") + "\n");
}

// Enter in a form of the news page is the form's; Enter that the page has no use for
// starts the game.
TEST_F(LauncherWindowTest, EnterInANewsPageFormIsTheFormsAndElsewhereStartsTheGame) {
    WriteFile(site_ / "news.html",
              "<html><body style='background:#24344c;margin:0'>"
              "<form onsubmit=\"document.body.style.background='#00ff00';return false\">"
              "<input style='position:absolute;left:10px;top:10px;width:300px;height:30px'>"
              "</form></body></html>");
    Launch();
    ASSERT_TRUE(WaitForScreen("window_news_form", [&](const Image& s) {
        return StartEnabled(s) &&
               s.At(main_.x + kBrowser.x + 400, main_.y + kBrowser.y + 200) == kNewsColour;
    }));
    Click(kBrowser.x + 100, kBrowser.y + 25);  // into the field
    Key("Return", kBrowser.x + 100, kBrowser.y + 25);
    ASSERT_TRUE(WaitForScreen("window_news_form_sent", [&](const Image& s) {
        return s.At(main_.x + kBrowser.x + 400, main_.y + kBrowser.y + 200) == 0x00FF00;
    })) << "the form never had Enter";
    EXPECT_FALSE(ProcessEnded(pid_)) << "Enter in the form started the game";
    EXPECT_FALSE(fs::exists(client_ / "game_args.txt"));
    Click(kBrowser.x + 400, kBrowser.y + 200);  // out of the field, still in the page
    Key("Return", kBrowser.x + 400, kBrowser.y + 200);
    ASSERT_TRUE(EndsWithin()) << "Enter nothing took did not start the game";
    platform::WaitForProcess(pid_);
    pid_ = 0;
    ASSERT_TRUE(Poll([&] { return fs::exists(client_ / "game_args.txt"); }));
}

TEST_F(LauncherWindowTest, AnUnknownNewsAddressShowsABlankPage) {
    WriteConfig("web=nonsense-without-scheme\r\n");
    Launch();
    ASSERT_TRUE(WaitForScreen("window_blank_news", [&](const Image& s) {
        return StartEnabled(s) &&
               s.At(main_.x + kBrowser.x + 400, main_.y + kBrowser.y + 200) == 0xFFFFFF;
    }));
}

TEST_F(LauncherWindowTest, AMissingPackageOpensTheManualDownloadDialogThenTheLauncherQuits) {
    fs::remove(site_ / "p1.jzq");
    Launch();
    XWindow dialog;
    ASSERT_TRUE(Poll([&] { return FindWindow(400, dialog); })) << "no manual-download dialog";
    Shot("manual_download");
    Key("Return", 200, 60, &dialog);  // its OK has the focus
    EXPECT_TRUE(EndsWithin()) << "the launcher quits after the dialog";
    EXPECT_EQ(ReadFile(client_ / ".ver"), "CN.1.0.0");
}

TEST_F(LauncherWindowTest, TheTopBandsMenuOpensTheAboutBox) {
    Launch();
    RunTool("xdotool", {"mousemove", std::to_string(main_.x + 300), std::to_string(main_.y + 50)});
    RunTool("xdotool", {"click", "3"});
    Key("Down", 300, 50);
    Key("Return", 300, 50);
    XWindow about;
    ASSERT_TRUE(Poll([&] { return FindWindow(320, about); })) << "no about box";
    Shot("about");
    Key("Escape", 100, 40, &about);
    EXPECT_TRUE(Poll([&] { return !FindWindow(320, about); })) << "the about box closes";
    EXPECT_FALSE(ProcessEnded(pid_)) << "the window stays";
}

TEST_F(LauncherWindowTest, WithoutADisplayTheLauncherSaysSoAndUsesTheTerminal) {
    for (const char* display : {"DISPLAY= WAYLAND_DISPLAY=", "DISPLAY=:4242 WAYLAND_DISPLAY="}) {
        WriteFile(client_ / ".ver", "CN.1.0.0");
        const std::string cmd = "cd '" + client_.path().string() + "' && " + display +
                                " ./quillgate.exe -direct > launch.log 2>&1 < /dev/null";
        const int status = std::system(cmd.c_str());
        const std::string output = ReadFile(client_ / "launch.log");
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << display << output;
        EXPECT_NE(output.find("no display: showing the update on the terminal"), std::string::npos)
            << display << output;
        EXPECT_NE(output.find("result 2"), std::string::npos) << display << output;
        EXPECT_EQ(ReadFile(client_ / ".ver"), "CN.1.0.1") << display;
    }
}

TEST_F(LauncherWindowTest, TheInstalledLauncherHandsOverToItsCopyWhichOpensTheWindow) {
    uint32_t installed = 0;
    ASSERT_TRUE(
        platform::StartProcess(client_ / "quillgate.exe", {}, client_.path().string(), &installed));
    EXPECT_EQ(platform::WaitForProcess(installed), 0)
        << "the installed launcher ends after the hand-over";
    // The copy's window: found by its title, its process runs "quillgate.bin".
    ASSERT_TRUE(Poll([&] {
        std::istringstream ids(RunTool("xdotool", {"search", "--onlyvisible", "--name", "."}));
        for (std::string id; ids >> id;) {
            const uint32_t pid = std::atoi(RunTool("xdotool", {"getwindowpid", id}).c_str());
            if (pid == 0) continue;
            std::error_code ec;
            if (fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).filename() ==
                "quillgate.bin") {
                pid_ = pid;
                return FindWindow(736, main_);
            }
        }
        return false;
    })) << "no window of quillgate.bin";
    ASSERT_TRUE(
        WaitForScreen("window_after_hand_over", [&](const Image& s) { return StartEnabled(s); }));
    // Closed by its close button; pid_ is not our child, so it is watched, not waited for.
    Click(Button(kClose).rect.x + 7, Button(kClose).rect.y + 7);
    EXPECT_TRUE(Poll([&] { return ProcessEnded(pid_); }));
    pid_ = 0;
}

}  // namespace
