// Modal message boxes over a window (no caption, as the launcher's boxes have none).
#pragma once

#include <string>

namespace platform::ui {

class Window;

enum class MessageBoxKind { Error, Question, Information };
enum class MessageBoxAnswer { Ok, Yes, No };

// Shows `utf8Text` until the user answers. A question has Yes (the default) and No; the
// others have OK. Closing the box answers No for a question, OK otherwise. Sent and
// posted messages of the calling thread are still handled meanwhile.
MessageBoxAnswer ShowMessageBox(Window* owner, const std::string& utf8Text, MessageBoxKind kind);

}  // namespace platform::ui
