// The engine backend through the real engine library, fetching from a ranged HTTP server
// on 127.0.0.1: the whole path from CreateDownloader(1) to the file at its place.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "download/create_downloader.h"
#include "platform/registry.h"
#include "testing/python_server.h"
#include "testing/temp_dir.h"

namespace {

int g_progressMessages = 0;
uint32_t g_lastState = 0;

intptr_t Caller(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                intptr_t lParam) {
    if (message == WM_DOWNLOAD_PROGRESS) ++g_progressMessages;
    if (message == WM_DOWNLOAD_STATE) g_lastState = static_cast<uint32_t>(lParam);
    return platform::DefWindowProc(window, message, wParam, lParam);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(TarnEngineEndToEnd, FetchesAFileThroughTheRealEngine) {
    testing_support::TempDir dir("qg_tarn_e2e");
    setenv("QG_REGISTRY_HKLM", (dir / "hklm").c_str(), 1);
    ASSERT_TRUE(platform::RegistryStore(platform::RegistryHive::LocalMachine)
                    .WriteDword("Software\\VELKO\\p4p", "IPCPort", 1)
                    .ok());
    std::filesystem::create_directories(dir / "site");
    std::string content;
    for (int i = 0; i < 3 * 1024 * 1024 + 17; ++i) content += static_cast<char>(i * 31 + 7);
    std::ofstream(dir / "site/file.bin", std::ios::binary) << content;
    testing_support::PythonServer server(QG_MIRROR_SERVER, {dir / "site", "good"});

    platform::RegisterWindowClass("tarn_e2e_caller", &Caller);
    const platform::WindowHandle caller = platform::CreateMessageWindow("tarn_e2e_caller");
    {
        auto downloader = CreateDownloader(1);
        ASSERT_NE(downloader, nullptr);
        ASSERT_TRUE(downloader->SetTask(server.Url("/file.bin").c_str(), (dir / "file.bin").c_str(),
                                        caller, 3));
        downloader->Start();
        EXPECT_TRUE(downloader->Wait(true));
        EXPECT_EQ(downloader->GetState(), DOWNLOAD_FINISHED);
        EXPECT_EQ(g_lastState, DOWNLOAD_FINISHED);
        int64_t total = 0, done = 0;
        if (g_progressMessages > 0) {
            EXPECT_TRUE(downloader->GetProgress(total, done));
            EXPECT_EQ(total, static_cast<int64_t>(content.size()));
        }
    }
    EXPECT_TRUE(ReadAll(dir / "file.bin") == content);
    platform::DestroyMessageWindow(caller);
    unsetenv("QG_REGISTRY_HKLM");
}

}  // namespace
