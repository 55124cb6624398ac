#include "app/message_table.h"

#include <gtest/gtest.h>

#include <string>

#include "app/process_settings.h"

namespace {

class MessageTableTest : public ::testing::TestWithParam<uint32_t> {
  protected:
    void SetUp() override { LanguageCodePage = GetParam(); }
    void TearDown() override { LanguageCodePage = 936; }
};

TEST_P(MessageTableTest, EveryListedIndexHasTextAndOthersAreEmpty) {
    for (uint32_t i = 0; i <= 82; ++i) EXPECT_STRNE(GetMessageText(i), "") << i;
    for (uint32_t i : {101u, 103u, 1033u, 1034u}) EXPECT_STRNE(GetMessageText(i), "") << i;
    for (uint32_t i = 83; i <= 100; ++i) EXPECT_STREQ(GetMessageText(i), "") << i;
    for (uint32_t i : {102u, 104u, 1032u, 1035u, 5000u, 0xFFFFFFFFu})
        EXPECT_STREQ(GetMessageText(i), "") << i;
}

TEST_P(MessageTableTest, RepeatedEntriesAndSpinnerFrames) {
    EXPECT_STREQ(GetMessageText(26), GetMessageText(30));
    EXPECT_STREQ(GetMessageText(33), GetMessageText(36));
    EXPECT_STREQ(GetMessageText(34), GetMessageText(37));
    // 80..82 differ only in the last character: a spinner of "\", "-" and "/".
    const std::string frames[] = {GetMessageText(80), GetMessageText(81), GetMessageText(82)};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(frames[k].substr(0, frames[k].size() - 1),
                  frames[0].substr(0, frames[0].size() - 1));
        EXPECT_EQ(frames[k].back(), "\\-/"[k]);
    }
    EXPECT_STREQ(GetMessageText(101), "About Quillgate(&A)...");
}

INSTANTIATE_TEST_SUITE_P(BothTables, MessageTableTest, ::testing::Values(936u, 950u));

TEST(MessageTable, CodePageSelectsTheTable) {
    struct Case {
        uint32_t index;
        const char* simplified;
        const char* traditional;
    } cases[] = {
        {0, "鹭洲传说", "鷺洲傳說"},
        {5, "本地版本文件数据错误", "本地版本檔資料錯誤"},
        {28, "下载进度: %s/%s，下载速度: %s/S。", "下載進度: %s/%s，下載速度: %s/S。"},
        {32, "更新成功!", "更新成功!"},
        {70, "您需要更新", "您需要更新"},
        {78, "Quillgate检测到游戏客户端正在运行中,在进行下面的操作前请关闭客户端，并点击\"OK\"",
         "Quillgate檢測到遊戲客戶端正在運行中,在進行下面的操作前請關閉用戶端，並點擊\"OK\""},
        {103, "Windows 套接字初始化失败。", "Windows 通訊端初始化失敗。"},
        {1034, "有%d个文件需要下载，正在下载第%d个。", "有%d個檔需要下載，正在下載第%d個。"},
    };
    for (const Case& c : cases) {
        LanguageCodePage = 936;
        EXPECT_STREQ(GetMessageText(c.index), c.simplified) << c.index;
        LanguageCodePage = 1258;  // any other code page reads the simplified table
        EXPECT_STREQ(GetMessageText(c.index), c.simplified) << c.index;
        LanguageCodePage = 950;
        EXPECT_STREQ(GetMessageText(c.index), c.traditional) << c.index;
    }
    LanguageCodePage = 936;
}

}  // namespace
