// Hands a URL to the user's own browser (xdg-open), never to a shell.
#pragma once

#include <string>

namespace platform::ui {

// Starts the desktop's opener for `url` and does not wait for it. Only web pages and mail
// addresses leave the launcher: an address whose scheme is not http, https or mailto
// (file:, smb:, a handler of some other program) is refused, as is one starting with
// "-". False when refused, when no opener is installed or it could not be started.
bool OpenUrl(const std::string& url);

// Whether OpenUrl would hand `url` on: its scheme (any letter case) is http, https or
// mailto.
bool IsOpenableUrl(const std::string& url);

}  // namespace platform::ui
