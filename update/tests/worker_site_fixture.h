// A real update site on 127.0.0.1 (a primary and a backup server), a client folder as
// the current directory, and a recording stand-in for the main window: what the update
// pipeline's end-to-end tests share.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "axp/pack_file.h"
#include "axp/package_form.h"
#include "axp/stream.h"
#include "axp/updater.h"
#include "axp/zip_writer.h"
#include "platform/messages.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"
#include "update/launch_messages.h"
#include "update/launch_worker.h"

namespace worker_test {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::SiteServer;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr uint32_t WM_TEST_WORKER_ENDED = platform::WM_USER + 0x200;

struct Recorded {
    uint32_t message;
    std::string text;
    int result;  // the worker's result when the message arrived
};

// Records what the pipeline shows, as the main window would receive it.
struct Recorder {
    std::vector<Recorded> messages;
    CLaunchWorker* worker = nullptr;

    static intptr_t Proc(platform::WindowHandle w, uint32_t m, uintptr_t wp, intptr_t lp) {
        auto* self = reinterpret_cast<Recorder*>(platform::GetWindowUserData(w));
        if (m == WM_TEST_WORKER_ENDED || m == WM_CLOSE) {
            platform::PostQuitMessage(0);
            return 0;
        }
        std::string text;
        if (m == WM_LAUNCH_STATUS || m == WM_LAUNCH_DETAIL || m == WM_LAUNCH_ERROR) {
            text = reinterpret_cast<const char*>(wp);
        } else if (m == WM_LAUNCH_STATUS2) {
            text =
                std::string(reinterpret_cast<const char*>(wp)) + reinterpret_cast<const char*>(lp);
        } else if (m == WM_LAUNCH_PROGRESS || m == WM_LAUNCH_TOTAL_PROGRESS) {
            text = std::to_string(wp);
        }
        self->messages.push_back({m, text, self->worker->result()});
        return 0;
    }

    std::vector<std::string> Texts(uint32_t message) const {
        std::vector<std::string> out;
        for (const Recorded& r : messages)
            if (r.message == message) out.push_back(r.text);
        return out;
    }
    int Count(uint32_t message) const { return static_cast<int>(Texts(message).size()); }
    bool HasStatus(const std::string& text) const {
        auto s = Texts(WM_LAUNCH_STATUS);
        return std::find(s.begin(), s.end(), text) != s.end();
    }
};

// One package: a command script and the contents it names.
struct PackageContents {
    std::string script;
    std::map<std::string, std::string> members;
};

// The package with the ".ver" of the version it leads to, as every published one has.
inline PackageContents Versioned(PackageContents package, const std::string& version) {
    char line[64];
    std::snprintf(line, sizeof(line), "0||.ver|0|%08X\r\n", static_cast<unsigned>(version.size()));
    package.script += line;
    package.members[".ver"] = version;
    return package;
}

class WorkerSiteTest : public ::testing::Test {
  public:  // the failure table arranges through a reference
    void SetUp() override {
        fs::create_directories(site_.path() / "patch");
        fs::create_directories(backup_.path() / "patch");
        WriteFile(".ver", "CN.1.0.0|first release\r\n");
        WriteFile(site_ / "server.lst", "SERVER_BEGIN\r\n1|east|127.0.0.1:9000\r\n");
        WriteConfig("");
        platform::RegisterWindowClass("TEST_MAIN_WINDOW", &Recorder::Proc);
    }

    void WriteConfig(const std::string& extra) {
        WriteFile("quillgate.cfg", "[quillgate]\r\nverinfo=" + primary_.Url("/patchinfo.txt") +
                                       "\r\nserverlist=" + primary_.Url("/server.lst") +
                                       "\r\nbakserver=" + backup_server_.host() + "\r\n" + extra);
    }

    // Makes a package in `folder`: sealed (the default) or scrambled.
    static void MakePackage(const std::string& path, const PackageContents& package, bool sealed) {
        const std::string zip = path + ".zip";
        AXP::ZipWriter writer;
        ASSERT_TRUE(writer.Create(zip));
        ASSERT_TRUE(writer.Add("(command)", package.script.data(), package.script.size(), true));
        for (const auto& [name, content] : package.members)
            ASSERT_TRUE(writer.Add(name, content.data(), content.size(), true));
        ASSERT_TRUE(writer.Finish());
        if (sealed) {
            AXP::Updater converter;
            ASSERT_TRUE(converter.ConvertPackageForm(zip, path));
        } else {
            ASSERT_TRUE(AXP::ScramblePackageFile(zip, path));
        }
        fs::remove(zip);
    }

    void WritePatchInfo(const std::string& latest, const std::string& sections,
                        const std::string& launcher = "CN.9.0") {
        WriteFile(site_ / "patchinfo.txt",
                  "[latest]\r\nlatest=" + latest + "\r\nquillgate=" + launcher +
                      "\r\nnewquillgate=" + primary_.Url("/quillgate.zip") + "\r\n" + sections);
    }

    std::string PatchSection(const std::string& name, const std::string& from,
                             const std::string& to, const std::string& file) {
        return "[" + name + "]\r\nfrom=" + from + "\r\nto=" + to +
               "\r\nurl=" + primary_.Url("/patch/" + file) + "\r\n";
    }

    // Where the package of the step `from` -> `to` fetched as `file` waits in the cache.
    static std::string Cached(const std::string& from, const std::string& to,
                              const std::string& file) {
        auto plain = [](const std::string& v) {
            const VersionNumber n = ParseVersion(v);
            return n.tag + "." + n.number;
        };
        return "download/" + plain(from) + "-" + plain(to) + "-" + file;
    }

    // Publishes a launcher archive whose member "quillgate.exe" holds `image`.
    void PublishLauncherArchive(const std::string& image) {
        AXP::ZipWriter zip;
        ASSERT_TRUE(zip.Create(site_ / "quillgate.zip"));
        ASSERT_TRUE(zip.Add("QuillGate.EXE", image.data(), image.size(), true));
        ASSERT_TRUE(zip.Finish());
    }

    // Runs the whole pipeline and returns its result.
    int Run(CLaunchWorker::Hooks hooks = {}, AXP::IUpdater* updaterToUse = nullptr) {
        const platform::WindowHandle window = platform::CreateMessageWindow("TEST_MAIN_WINDOW");
        platform::SetWindowUserData(window, reinterpret_cast<intptr_t>(&recorder_));
        CLaunchWorker worker;
        recorder_.worker = &worker;
        if (!hooks.freeDiskBytes)
            hooks.freeDiskBytes = [] { return std::optional<uint64_t>(1ULL << 40); };
        hooks.finished = [window] { platform::PostMessage(window, WM_TEST_WORKER_ENDED, 0, 0); };
        worker.SetHooks(hooks);
        AXP::Updater updater;
        if (worker.Start(window, updaterToUse ? updaterToUse : &updater, "quillgate.cfg")) {
            platform::Message msg;
            while (platform::GetMessage(msg)) platform::DispatchMessage(msg);
        }
        worker.Join();
        platform::DestroyMessageWindow(window);
        recorder_.worker = nullptr;
        return worker.result();
    }

    static std::string PackEntry(const std::string& pack, const std::string& name) {
        AXP::PackFile p;
        if (!p.Open(pack, true)) return "(no pack)";
        AXP::IStream* s = p.OpenFile(name);
        if (s == nullptr) return "(no entry)";
        std::string data(p.GetFileSize(name, false), '\0');
        s->Read(data.data(), static_cast<uint32_t>(data.size()));
        return data;
    }

    TempDir client_{"qg_worker_client"};
    testing_support::ScopedCurrentDir cwd_{client_.path()};
    TempDir site_{"qg_worker_site"};
    TempDir backup_{"qg_worker_backup"};
    SiteServer primary_{site_.path().string()};
    SiteServer backup_server_{backup_.path().string()};
    Recorder recorder_;
};

}  // namespace worker_test
