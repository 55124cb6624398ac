// Where the main window's controls sit and which skin bitmaps they show. Positions are
// pixels of the window's client area; bitmap ids name files of the skin folder.
#pragma once

#include <array>
#include <cstdint>

#include "platform/ui/ui_types.h"

namespace launch_dialog {

using platform::ui::Rect;

constexpr int kBackgroundBitmap = 131;
constexpr int kIconBitmap = 128;
constexpr Rect kDragBand{0, 0, 836, 100};
constexpr Rect kBrowser{222, 117, 498, 243};

// Control ids.
enum : int {
    kHomePage = 1003,
    kConfigTool = 1004,
    kStartGame = 1005,
    kDownloadPage = 1008,
    kBilling = 1009,
    kNewerVersion = 1010,
    kRepair = 1011,
    kForum = 1012,
    kSpare = 1013,
    kClose = 1002,
    kMinimise = 1023,
    kCancel = 1027,
    kProxySettings = 1033,
    kClassicStyle = 1035,
    kQuickStyle = 1036,
    kStatusLine = 1019,
    kDetailLine = 1018,
    kExtraLine = 1026,
    kUpperBar = 1007,
    kLowerBar = 1006,
};

// A skin button: its place and its bitmaps (normal, pressed, hover, disabled; 0 none).
struct ButtonLayout {
    int id;
    Rect rect;
    std::array<int, 4> bitmaps;
    const char* name;  // what the button is called for keyboard users and tests
};

inline constexpr std::array<ButtonLayout, 15> kButtons{{
    {kDownloadPage, {21, 269, 92, 24}, {298, 307, 308, 309}, "download page"},
    {kConfigTool, {21, 311, 92, 24}, {165, 167, 166, 164}, "game settings"},
    {kRepair, {21, 353, 92, 24}, {322, 323, 299, 300}, "repair"},
    {kHomePage, {124, 269, 92, 24}, {174, 175, 173, 180}, "home page"},
    {kNewerVersion, {124, 311, 92, 24}, {315, 316, 317, 318}, "newest version"},
    {kBilling, {124, 353, 92, 24}, {310, 311, 312, 313}, "billing"},
    {kStartGame, {510, 369, 187, 33}, {151, 150, 152, 153}, "start game"},
    {kClose, {698, 26, 14, 14}, {157, 158, 156, 155}, "close"},
    {kMinimise, {676, 26, 14, 14}, {160, 162, 161, 160}, "minimise"},
    {kProxySettings, {227, 365, 73, 24}, {341, 338, 340, 339}, "proxy settings"},
    {kClassicStyle, {308, 365, 88, 25}, {333, 334, 336, 333}, "classic style"},
    {kQuickStyle, {410, 365, 88, 25}, {331, 330, 332, 337}, "quick style"},
    // Present but never shown (forum, cancel) or never enabled (spare), without pictures.
    {kForum, {0, 0, 1, 1}, {0, 0, 0, 0}, "forum"},
    {kCancel, {0, 0, 1, 1}, {0, 0, 0, 0}, "cancel"},
    {kSpare, {0, 0, 1, 1}, {0, 0, 0, 0}, "spare"},
}};

constexpr const ButtonLayout& Button(int id) {
    for (const ButtonLayout& b : kButtons)
        if (b.id == id) return b;
    return kButtons[0];
}

// The normal pictures of the style buttons while the quick style is chosen.
constexpr int kClassicNormalWhileQuick = 335;
constexpr int kQuickNormalWhileQuick = 337;

// The three lines and two bars, on the panel under the news page.
constexpr Rect kStatusRect{21, 410, 690, 18};
constexpr Rect kDetailRect{21, 430, 440, 18};
constexpr Rect kExtraRect{21, 450, 440, 18};
constexpr Rect kUpperBarRect{470, 433, 246, 12};
constexpr Rect kLowerBarRect{470, 453, 246, 12};

// Timers of the window.
constexpr uintptr_t kRepairCloseTimer = 1001;  // 10 ms, while closing waits for a repair
constexpr uintptr_t kSpinnerTimer = 1002;      // 500 ms, while the upper bar is a marquee
constexpr uint32_t kRepairCloseTimerMs = 10;
constexpr uint32_t kSpinnerTimerMs = 500;
constexpr uint32_t kMarqueeStepMs = 20;

}  // namespace launch_dialog
