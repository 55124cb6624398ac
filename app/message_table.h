// Every text the launcher shows is a numbered entry of one of two tables, simplified
// and traditional Chinese, chosen by LanguageCodePage. Many entries are printf-style
// formats that the caller fills in.
#pragma once

#include <cstdint>

// Index of the operator's web-site address, shown for manual downloads.
constexpr uint32_t kOperatorSiteMessage = 74;

// The text of message `index` in the table of the current LanguageCodePage, as UTF-8.
// Never null; unknown indices give the empty string. The text lives for the process.
const char* GetMessageText(uint32_t index);
