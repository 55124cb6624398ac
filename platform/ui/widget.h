// The common part of every control placed on a window: position, enabled and visible
// state, the accessible name that keyboard users and tests find it by.
#pragma once

#include <string>

#include "platform/ui/ui_types.h"

namespace platform::ui {

class Window;

class Widget {
  public:
    virtual ~Widget();
    Widget(const Widget&) = delete;
    Widget& operator=(const Widget&) = delete;

    void Move(const Rect& rect);
    const Rect& rect() const { return rect_; }
    void SetEnabled(bool enabled);
    bool enabled() const;
    void SetVisible(bool visible);
    bool visible() const;
    void SetAccessibleName(const std::string& utf8);
    void Repaint();
    // The toolkit's widget (GtkWidget*), for tests and the window classes.
    void* native() const { return native_; }

  protected:
    // Takes a floating toolkit widget, keeps a reference and places it on `parent`.
    Widget(Window& parent, void* nativeWidget, const Rect& rect);
    Window& parent_;
    void* native_;
    Rect rect_;
};

}  // namespace platform::ui
