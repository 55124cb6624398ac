// The plain controls of the small dialogs: text, push buttons with a caption, a
// clickable link and a picture from the skin.
#pragma once

#include <functional>
#include <string>

#include "platform/ui/widget.h"

namespace platform::ui {

// Wrapped text, left-aligned.
class TextLabel : public Widget {
  public:
    TextLabel(Window& parent, const Rect& rect, const std::string& utf8 = "");
    void SetText(const std::string& utf8);
    std::string text() const;
};

class TextButton : public Widget {
  public:
    TextButton(Window& parent, const Rect& rect, const std::string& utf8Caption);
    ~TextButton() override;
    void GrabFocus();
    std::function<void()> onClick;
};

// Underlined text that acts on a click (or on space and Enter while focused).
class LinkLabel : public Widget {
  public:
    LinkLabel(Window& parent, const Rect& rect, const std::string& utf8);
    ~LinkLabel() override;
    void SetText(const std::string& utf8);
    std::string text() const { return text_; }
    std::function<void()> onClick;

  private:
    std::string text_;
};

// A named picture of the skin ("warning" for "warning.png"), or its bitmap id.
class Picture : public Widget {
  public:
    Picture(Window& parent, const Rect& rect, const std::string& name);
    Picture(Window& parent, const Rect& rect, int bitmapId);
};

}  // namespace platform::ui
