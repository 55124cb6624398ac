// A line of text painted over the piece of the parent's background bitmap that lies
// under it, so the label looks drawn on the window's face. A text change repaints the
// label alone, without erasing first.
#pragma once

#include <string>

#include "platform/ui/widget.h"

namespace platform::ui {

class CTransParentButton : public Widget {
  public:
    enum ColourSlot { kBackground = 0, kTextNormal, kTextHover, kTextFocus, kTextDisabled };

    CTransParentButton(Window& parent, const Rect& rect);
    ~CTransParentButton() override;

    // The text (UTF-8); setting the text it already shows repaints nothing.
    void SetText(const std::string& utf8);
    const std::string& text() const { return text_; }
    void SetColour(ColourSlot slot, Colour colour);
    Colour colour(ColourSlot slot) const { return colours_[slot]; }
    // Font family list (comma separated) and height in pixels.
    void SetFont(const std::string& families, int pixelHeight, bool underline = false);
    // The part of the parent's bitmap `bitmapId` under this label becomes its background.
    void TakeBackground(int bitmapId);
    // The colour the text is drawn in now (disabled labels use the disabled slot).
    Colour CurrentTextColour() const;
    uint64_t paintCount() const { return paints_; }

  private:
    static int OnDraw(void* widget, void* cr, void* self);
    std::string text_;
    Colour colours_[5] = {0, 0, 0, 0, 0};
    std::string fontFamilies_ = "Sans";
    int fontPixels_ = 12;
    bool underline_ = false;
    int backgroundId_ = 0;
    uint64_t paints_ = 0;
};

}  // namespace platform::ui
