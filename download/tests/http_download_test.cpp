// The HTTP downloader against scripted replies of a server on 127.0.0.1: which state and
// text each reply ends in, and that nothing but a complete file ever reaches the
// destination.
#include <gtest/gtest.h>

#include <algorithm>

#include "download/http/auto_download_down_ant.h"
#include "download/part_files.h"
#include "download/tests/download_observer.h"
#include "download/tests/scripted_server.h"

namespace qg_test {
namespace {

using namespace DOWNANT;

struct Row {
    const char* name;
    std::string path;        // on the scripted server; "refused" for a closed port
    uint32_t transferState;  // last state of the transfer
    std::string message;     // its message when the row fixes one ("" = not checked)
    uint32_t managerState;
    uint32_t code;    // GetState() after Wait
    size_t bodySize;  // for success rows: the bytes expected at the destination
};

const Row kRows[] = {
    {"ContentLength", "/ok/300000", DOWN_STATE_COMPLETE, "FileSize: 300000", MANAGER_DONE,
     DOWNLOAD_FINISHED, 300000},
    {"EmptyBody", "/ok/0", DOWN_STATE_COMPLETE, "FileSize: 0", MANAGER_DONE, DOWNLOAD_FINISHED, 0},
    {"Chunked", "/chunked/150000", DOWN_STATE_COMPLETE, "", MANAGER_DONE, DOWNLOAD_FINISHED,
     150000},
    {"RedirectChain", "/redirect/3/5000", DOWN_STATE_COMPLETE, "FileSize: 5000", MANAGER_DONE,
     DOWNLOAD_FINISHED, 5000},
    {"SlowTrickle", "/trickle/3000/15", DOWN_STATE_COMPLETE, "FileSize: 3000", MANAGER_DONE,
     DOWNLOAD_FINISHED, 3000},
    {"NotFound", "/status/404", DOWN_STATE_BAD_STATUS, "", MANAGER_TRANSFER_FAILED, DOWNLOAD_IDLE,
     0},
    {"Unauthorized", "/status/401", DOWN_STATE_AUTH_REQUIRED,
     "Authentication errors, Status Code:401\n", MANAGER_TRANSFER_FAILED, DOWNLOAD_IDLE, 0},
    {"ProxyAuthentication", "/status/407", DOWN_STATE_PROXY_AUTH_REQUIRED,
     "Authentication errors, Status Code:407\n", MANAGER_TRANSFER_FAILED, DOWNLOAD_IDLE, 0},
    {"ServerError", "/status/503", DOWN_STATE_BAD_STATUS, "", MANAGER_TRANSFER_FAILED,
     DOWNLOAD_IDLE, 0},
    {"RedirectLoop", "/loop", DOWN_STATE_BAD_STATUS, "", MANAGER_TRANSFER_FAILED, DOWNLOAD_IDLE, 0},
    {"StallMidBody", "/stall/100000", DOWN_STATE_TIMED_OUT, "", MANAGER_TRANSFER_FAILED,
     DOWNLOAD_IDLE, 0},
    {"StallBeforeHeaders", "/stall-headers", DOWN_STATE_TIMED_OUT, "", MANAGER_TRANSFER_FAILED,
     DOWNLOAD_IDLE, 0},
    {"CutMidBody", "/cut/100000", DOWN_STATE_READ_FAILED,
     "(curl_easy_perform: receive), Error:18\n", MANAGER_TRANSFER_FAILED, DOWNLOAD_IDLE, 0},
    {"CutMidChunked", "/cut-chunked/100000", DOWN_STATE_READ_FAILED, "", MANAGER_TRANSFER_FAILED,
     DOWNLOAD_IDLE, 0},
    {"ConnectionRefused", "refused", DOWN_STATE_SEND_FAILED,
     "(curl_easy_perform: connect or send), Error:7\n", MANAGER_TRANSFER_FAILED, DOWNLOAD_IDLE, 0},
};

// Keeps test listings readable: a row prints as its name.
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

std::string UrlOf(const Row& row) {
    // Port 1 on the loopback: nothing listens there.
    return row.path == "refused" ? "http://127.0.0.1:1/file" : Server().Url(row.path);
}

class ScriptedReplies : public ::testing::TestWithParam<Row> {};

// The transfer on its own: its last state and text, and what it wrote into its file.
TEST_P(ScriptedReplies, TransferEndsInItsStateAndWritesNoErrorPage) {
    const Row& row = GetParam();
    TempFolder folder;
    const std::string part = folder.Path("part");
    TransferRecord record = RunTransfer(UrlOf(row), part, 1);
    ASSERT_FALSE(record.states.empty());
    EXPECT_EQ(record.states.back(), row.transferState);
    if (!row.message.empty()) {
        EXPECT_EQ(record.lastMessage, row.message);
    }
    const std::string written = ReadFile(part);
    if (row.transferState == DOWN_STATE_COMPLETE) {
        EXPECT_EQ(written, Pattern(row.bodySize));
        EXPECT_EQ(record.received, static_cast<int64_t>(row.bodySize));
    } else {
        // Error pages and redirect bodies never reach the file; broken bodies are a
        // prefix of the real file at most.
        EXPECT_EQ(written.find("error page"), std::string::npos);
        EXPECT_EQ(written.find("moved"), std::string::npos);
        EXPECT_EQ(written, Pattern(written.size()));
    }
    const bool redirected =
        std::count(record.states.begin(), record.states.end(), DOWN_STATE_REDIRECTED) > 0;
    EXPECT_EQ(redirected, row.path.rfind("/redirect", 0) == 0 || row.path == "/loop");
}

// The whole chain as a worker sees it: the messages at its window and the destination,
// which held an older file before: it ends as the whole new file or as the old one, and
// the part file beside it never outlives the download.
TEST_P(ScriptedReplies, DestinationHoldsTheWholeFileOrItsOldContent) {
    const Row& row = GetParam();
    TempFolder folder;
    const std::string destination = folder.Path("target.bin");
    WriteFile(destination, "older file");
    CAutoDownload_DownAnt downloader;
    downloader.SetNoDataTimeout(1);
    Observed seen = RunDownload(downloader, UrlOf(row), destination);

    EXPECT_EQ(downloader.Manager().State(), row.managerState);
    EXPECT_EQ(downloader.GetState(), row.code);
    ASSERT_FALSE(seen.states.empty());
    EXPECT_EQ(seen.states.front(), DOWNLOAD_READY);
    EXPECT_EQ(seen.states.back(), row.code);
    const std::string content = ReadFile(destination);
    if (row.code == DOWNLOAD_FINISHED) {
        EXPECT_EQ(content, Pattern(row.bodySize));
        EXPECT_NE(std::find(seen.states.begin(), seen.states.end(), DOWNLOAD_COPYING),
                  seen.states.end());
    } else {
        EXPECT_EQ(content, "older file") << "a failed download keeps the old destination";
    }
    EXPECT_EQ(downloader.GetLocalError(), 0) << "no local file operation failed";
    bool partExists = true;
    ReadFile(destination + kDownloadPartSuffix, &partExists);
    EXPECT_FALSE(partExists);
}

INSTANTIATE_TEST_SUITE_P(Http, ScriptedReplies, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
}  // namespace qg_test
