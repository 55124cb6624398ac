// Every text the launcher shows is an entry of one of two tables, simplified and
// traditional Chinese, chosen by the message language. Entries are named by MessageId;
// many are printf-style formats that FormatMessage fills in, with the kinds of their
// arguments declared once (MessageArgumentKinds) and checked at compile time at every
// call and, by a test, against the texts of both tables.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>

// The numbers are the entries' places in the tables the operators' skins refer to; the
// entries from 2001 on are the launcher's own and read the same in both tables.
enum class MessageId : uint32_t {
    kTitle = 0,
    kFetchingPatchInfo = 1,
    kPatchInfoFetchFailed = 2,
    kUpdateStartFailed = 3,  // s: reason
    kRepairDone = 4,         // d: files repaired
    kLocalVersionFileBad = 5,
    kPatchInfoBad = 7,
    kNoWayToLatest = 8,
    kConfigBad = 9,
    kDownloadUrlBad = 11,
    kDownloadFailed = 12,    // s: file name
    kNoPatchFile = 15,       // s: what is missing
    kPatchFileBad = 19,      // s: file, s: reason
    kPackNotFound = 21,      // s: pack
    kPackRemoveFailed = 22,  // s: pack, s: entry
    kPackAddFailed = 23,     // s: entry
    kUpdateFailedCode = 25,  // d: pack library code, s: its text
    kDownloadingFile = 26,   // s: file
    kDownloadProgress = 28,  // s: done, s: total, s: per second
    kPatchInfoFetched = 29,
    kDownloadingFileAgain = 30,  // s: file
    kUpdateStarting = 31,
    kUpdateSucceeded = 32,
    kUpdateFailed = 38,
    kDownloaded = 40,  // s: file name
    kDownloadsFinished = 41,
    kRepairStartFailed = 42,  // s: reason
    kNoDiskSpace = 46,
    kPreparingGame = 47,
    kServerListUnavailable = 48,
    kServerListFetched = 49,
    kCheckFailed = 50,  // s: file
    kFetchingLauncher = 51,
    kLauncherFetched = 53,
    kGameRunning = 54,
    kDeleteFailed = 56,    // s: file
    kPackageRefused = 57,  // s: file, d: pack library code, s: its text
    kUpdatingFile = 58,    // s: file
    kRemovingFile = 59,    // s: file
    kLauncherFetchFailed = 60,
    kLauncherDownloaded = 61,
    kAnalysingLocalFiles = 63,
    kCheckingFiles = 64,     // d: checked, d: all
    kRepairFailed = 65,      // s: file
    kRepairProgress = 66,    // s: checked bytes, s: all bytes, d: files repaired
    kRepairFailedCode = 67,  // d: code, s: its text
    kVersions = 68,          // s: published version, s: installed version
    kConfirmCancel = 69,
    kGoToOperatorSite = 72,
    kFetchingFromServer = 73,  // s: file
    kOperatorSite = 74,
    kForceClose = 75,
    kGameRunningPressOk = 78,
    kConfigLoadFailed = 79,
    kRepairSpinnerFirst = 80,
    kRepairSpinnerLast = 82,
    kDownloadingStep = 1034,           // d: steps, d: this step
    kAccessError = 2001,               // s: file
    kAccessErrorBecause = 2002,        // s: file, s: reason
    kAccessErrorParenthesised = 2003,  // s: file
    kCacheFolderFailed = 2004,
    kUpdatingFiles = 2005,
    kLauncherAccessError = 2006,
    kSignatureBad = 2007,    // s: file
    kSerialReplayed = 2008,  // s: serial of the file, s: highest serial seen
    kDigestMismatch = 2009,
    kDigestUnpublished = 2010,
    kPublicKeyBad = 2011,
    kClientBusy = 2101,
    kGameStartFailed = 2102,         // s: reason
    kGameMissing = 2103,             // s: path
    kGameNotExecutable = 2104,       // s: path
    kWineMissing = 2105,             // s: path
    kGameCommandLineTooLong = 2106,  // d: bytes at most
    kGameStartRefused = 2107,        // s: path, s: the system's reason
};

// Selects the table: 950 the traditional one, any other code page the simplified one.
// Called at start-up, before any thread that shows texts starts; read-only afterwards.
void SetMessageLanguage(uint32_t codePage);

// The text of message `index` in the table of the current language, as UTF-8. Never
// null; unknown indices give the empty string. The text lives for the process.
const char* GetMessageText(uint32_t index);
inline const char* GetMessageText(MessageId id) {
    return GetMessageText(static_cast<uint32_t>(id));
}

// The printf conversions of a message, in order: 's' for a string, 'd' for an int.
// Empty for a plain text.
constexpr std::string_view MessageArgumentKinds(MessageId id) {
    switch (id) {
        case MessageId::kRepairDone:
        case MessageId::kGameCommandLineTooLong:
            return "d";
        case MessageId::kUpdateStartFailed:
        case MessageId::kPackNotFound:
        case MessageId::kPackAddFailed:
        case MessageId::kDownloadingFile:
        case MessageId::kDownloadingFileAgain:
        case MessageId::kRepairStartFailed:
        case MessageId::kCheckFailed:
        case MessageId::kUpdatingFile:
        case MessageId::kRemovingFile:
        case MessageId::kRepairFailed:
        case MessageId::kFetchingFromServer:
        case MessageId::kDownloadFailed:
        case MessageId::kNoPatchFile:
        case MessageId::kDownloaded:
        case MessageId::kDeleteFailed:
        case MessageId::kAccessError:
        case MessageId::kAccessErrorParenthesised:
        case MessageId::kSignatureBad:
        case MessageId::kGameStartFailed:
        case MessageId::kGameMissing:
        case MessageId::kGameNotExecutable:
        case MessageId::kWineMissing:
            return "s";
        case MessageId::kPackRemoveFailed:
        case MessageId::kPatchFileBad:
        case MessageId::kVersions:
        case MessageId::kAccessErrorBecause:
        case MessageId::kSerialReplayed:
        case MessageId::kGameStartRefused:
            return "ss";
        case MessageId::kUpdateFailedCode:
        case MessageId::kRepairFailedCode:
            return "ds";
        case MessageId::kDownloadProgress:
            return "sss";
        case MessageId::kPackageRefused:
            return "sds";
        case MessageId::kRepairProgress:
            return "ssd";
        case MessageId::kDownloadingStep:
        case MessageId::kCheckingFiles:
            return "dd";
        default:
            return "";
    }
}

namespace message_detail {

template <typename T>
constexpr char KindOf() {
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_same_v<U, int>) return 'd';
    if constexpr (std::is_same_v<U, std::string> || std::is_same_v<std::decay_t<T>, const char*> ||
                  std::is_same_v<std::decay_t<T>, char*>)
        return 's';
    return '?';
}

template <typename... Args>
constexpr bool KindsMatch(std::string_view kinds) {
    const char given[] = {KindOf<Args>()..., '\0'};
    return std::string_view(given, sizeof...(Args)) == kinds;
}

inline const char* Argument(const std::string& s) { return s.c_str(); }
inline const char* Argument(const char* s) { return s; }
inline int Argument(int n) { return n; }

}  // namespace message_detail

// Message `id` filled with `args`, which must match its declared kinds (ints for "d",
// strings for "s"): a wrong number or kind of arguments does not compile.
template <MessageId id, typename... Args>
std::string FormatMessage(const Args&... args) {
    static_assert(message_detail::KindsMatch<Args...>(MessageArgumentKinds(id)),
                  "the arguments do not match the message's format");
    if constexpr (sizeof...(Args) == 0) {
        return GetMessageText(id);
    } else {
        char text[2048];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
        std::snprintf(text, sizeof(text), GetMessageText(id), message_detail::Argument(args)...);
#pragma GCC diagnostic pop
        return text;
    }
}
