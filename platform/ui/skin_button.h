// A button drawn entirely from skin bitmaps: push button, check box or radio button.
// It stays a real toolkit button, so it takes the keyboard focus (Tab; a click leaves the
// focus where it was), is activated by space and Enter while focused, and shows in the
// accessibility tree under its name.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/widget.h"

namespace platform::ui {

class CxSkinButton : public Widget {
  public:
    enum class Kind { Push, Check, Radio };
    // 0 = the bitmap at its own size (the button takes that size), 1 = stretched to the
    // button, 2 = tiled; other values are clamped into 0-2.
    enum DrawMode { kDrawNatural = 0, kDrawStretch = 1, kDrawTile = 2 };

    CxSkinButton(Window& parent, const Rect& rect, Kind kind = Kind::Push);
    ~CxSkinButton() override;

    // Bitmap ids of the parent's skin, 0 for none. A missing disabled bitmap falls back
    // to the normal one. With a mask, only the mask's pixels that are not white belong
    // to the button (drawing and clicks).
    void SetSkin(int normal, int down, int over, int disabled, int focus = 0, int mask = 0,
                 int drawMode = kDrawStretch, bool border = false, int focusMargin = 0);
    void SetNormalBitmap(int id);
    int normalBitmap() const { return normal_; }

    // Check boxes and radio buttons; a push button is never checked. Checking a radio
    // button unchecks the others of its group.
    void SetChecked(bool checked);
    bool checked() const { return checked_; }
    // Puts the radio buttons in one group (each in at most one).
    static void MakeGroup(const std::vector<CxSkinButton*>& buttons);

    // The bitmap id the current state shows (0: none).
    int ShownBitmap() const;

    // Clicked by the mouse, space or Enter; runs after a check box or radio button
    // changed its checked state.
    std::function<void()> onClick;

  private:
    static int OnDraw(void* widget, void* cr, void* self);
    static void OnClicked(void* widget, void* self);
    static int OnButtonPress(void* widget, void* event, void* self);
    bool InMask(int x, int y) const;

    Kind kind_;
    int normal_ = 0, down_ = 0, over_ = 0, disabled_ = 0, focus_ = 0;
    int drawMode_ = kDrawStretch;
    bool border_ = false;
    int focusMargin_ = 0;
    void* maskRegion_ = nullptr;  // cairo_region_t*
    bool checked_ = false;
    std::vector<CxSkinButton*>* group_ = nullptr;
    std::shared_ptr<std::vector<CxSkinButton*>> groupOwner_;
};

}  // namespace platform::ui
