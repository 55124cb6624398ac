// Hands a URL to the user's own browser (xdg-open), never to a shell.
#pragma once

#include <string>

namespace platform::ui {

// Starts the desktop's opener for `url` and does not wait for it. False when no opener
// is installed or it could not be started.
bool OpenUrl(const std::string& url);

}  // namespace platform::ui
