// HTTPS on the loopback, with a certificate authority the test makes (the scripted server
// runs openssl), directly and through a tunnelling proxy.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "download/http/auto_download_down_ant.h"
#include "download/tests/download_observer.h"
#include "download/tests/scripted_server.h"

namespace qg_test {
namespace {

using namespace DOWNANT;

// The scripted server over TLS, its CA in a folder of its own, and a CONNECT proxy.
class HttpsDownload : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        certificates_ = new TempFolder;
        server_ = new testing_support::PythonServer(QG_SCRIPTED_SERVER,
                                                    {"--tls", certificates_->Path("")});
        proxy_ = new testing_support::PythonServer(QG_CONNECT_PROXY, {});
    }
    static void TearDownTestSuite() {
        delete proxy_;
        delete server_;
        delete certificates_;
    }
    static std::string Url(const std::string& path) { return "https://" + server_->host() + path; }
    static std::string CaFile() { return certificates_->Path("ca.pem"); }
    static std::string Proxy() { return "http://" + proxy_->host(); }

    static TempFolder* certificates_;
    static testing_support::PythonServer* server_;
    static testing_support::PythonServer* proxy_;
};

TempFolder* HttpsDownload::certificates_ = nullptr;
testing_support::PythonServer* HttpsDownload::server_ = nullptr;
testing_support::PythonServer* HttpsDownload::proxy_ = nullptr;

TEST_F(HttpsDownload, TrustsTheGivenAuthorityAndOnlyThat) {
    TempFolder folder;
    CAutoDownload_DownAnt downloader;
    downloader.SetCaFile(CaFile());
    RunDownload(downloader, Url("/ok/300000"), folder.Path("f"));
    EXPECT_EQ(downloader.GetState(), DOWNLOAD_FINISHED);
    EXPECT_EQ(ReadFile(folder.Path("f")), Pattern(300000));

    // The system's store does not know the test authority: the connection is refused.
    CAutoDownload_DownAnt strict;
    RunDownload(strict, Url("/ok/10"), folder.Path("g"));
    EXPECT_EQ(strict.GetState(), DOWNLOAD_IDLE);
    EXPECT_EQ(strict.Manager().State(), MANAGER_TRANSFER_FAILED);
    EXPECT_FALSE(std::filesystem::exists(folder.Path("g")));
}

// The proxy answers CONNECT with a status line and a Content-Length of its own: the
// transfer must see one response only, the file's, so that neither the size nor the cap
// is judged on the proxy's headers.
TEST_F(HttpsDownload, ThroughATunnellingProxyTheFileIsExact) {
    TempFolder folder;
    TransferSettings settings;
    settings.caFile = CaFile();
    settings.proxy = Proxy();
    settings.sizeLimit = 500000;  // below the proxy's made-up length
    TransferRecord record = RunTransfer(Url("/ok/300000"), folder.Path("part"), settings);
    ASSERT_FALSE(record.states.empty());
    EXPECT_EQ(record.states.back(), DOWN_STATE_COMPLETE);
    EXPECT_EQ(std::count(record.states.begin(), record.states.end(), DOWN_STATE_HEADERS_READ), 1);
    EXPECT_TRUE(record.sizeKnown);
    EXPECT_EQ(record.fileSize, 300000);
    EXPECT_EQ(ReadFile(folder.Path("part")), Pattern(300000));

    CAutoDownload_DownAnt downloader;
    downloader.SetCaFile(CaFile());
    downloader.SetProxy(Proxy());
    downloader.SetSizeLimit(500000);
    RunDownload(downloader, Url("/chunked/200000"), folder.Path("f"));
    EXPECT_EQ(downloader.GetState(), DOWNLOAD_FINISHED);
    EXPECT_EQ(ReadFile(folder.Path("f")), Pattern(200000));
}

}  // namespace
}  // namespace qg_test
