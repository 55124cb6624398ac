#include "update/message_table.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class MessageTableTest : public ::testing::TestWithParam<uint32_t> {
  protected:
    void SetUp() override { SetMessageLanguage(GetParam()); }
    void TearDown() override { SetMessageLanguage(936); }
};

TEST_P(MessageTableTest, EveryListedIndexHasTextAndOthersAreEmpty) {
    for (uint32_t i = 0; i <= 82; ++i) EXPECT_STRNE(GetMessageText(i), "") << i;
    for (uint32_t i : {101u, 103u, 1033u, 1034u}) EXPECT_STRNE(GetMessageText(i), "") << i;
    for (uint32_t i = 2001; i <= 2011; ++i) EXPECT_STRNE(GetMessageText(i), "") << i;
    for (uint32_t i = 2101; i <= 2107; ++i) EXPECT_STRNE(GetMessageText(i), "") << i;
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

// The printf conversions of every entry, in both tables, are the kinds its id declares,
// which is what FormatMessage checks its callers' arguments against.
TEST_P(MessageTableTest, EveryFormatTakesTheDeclaredArguments) {
    for (uint32_t i = 0; i < 4096; ++i) {
        const std::string text = GetMessageText(i);
        std::string kinds;
        for (size_t k = 0; k < text.size(); ++k) {
            if (text[k] != '%') continue;
            ++k;
            while (k < text.size() &&
                   std::string_view("-+ #0123456789.").find(text[k]) != std::string_view::npos)
                ++k;
            if (k < text.size() && text[k] != '%') kinds.push_back(text[k]);
        }
        EXPECT_EQ(kinds, MessageArgumentKinds(static_cast<MessageId>(i))) << i << ": " << text;
    }
}

TEST(MessageTable, FormatFillsTheTableText) {
    SetMessageLanguage(950);
    EXPECT_EQ(FormatMessage<MessageId::kPackageRefused>("p1.jzq", 14, "ziperr=3"),
              "更新檔錯誤p1.jzq(CODE=14,ziperr=3)");
    EXPECT_EQ(FormatMessage<MessageId::kAccessErrorBecause>(std::string("download"), "No space"),
              "Access error: download (No space)");
    SetMessageLanguage(936);
    EXPECT_EQ(FormatMessage<MessageId::kDownloadingStep>(3, 1),
              "有3个文件需要下载，正在下载第1个。");
    EXPECT_EQ(FormatMessage<MessageId::kUpdateSucceeded>(), "更新成功!");
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
        SetMessageLanguage(936);
        EXPECT_STREQ(GetMessageText(c.index), c.simplified) << c.index;
        SetMessageLanguage(1258);  // any other code page reads the simplified table
        EXPECT_STREQ(GetMessageText(c.index), c.simplified) << c.index;
        SetMessageLanguage(950);
        EXPECT_STREQ(GetMessageText(c.index), c.traditional) << c.index;
    }
    SetMessageLanguage(936);
}

}  // namespace
