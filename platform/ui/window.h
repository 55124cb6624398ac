// Top-level windows: the skinned main window (undecorated, painted from a background
// bitmap, moved by a band at its top) and plain modal dialogs. Controls are placed on
// them at fixed pixel positions.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/ui/skin.h"
#include "platform/ui/toolkit.h"
#include "platform/ui/ui_types.h"

namespace platform::ui {

class Window {
  public:
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    void SetTitle(const std::string& utf8);
    void Show();
    void Hide();
    // Destroys the toolkit window now; the object stays and answers `gone()`.
    void Destroy();
    bool gone() const { return native_ == nullptr; }
    // The display server's id of the window (the X window id), 0 before it is shown.
    uint32_t NativeId() const;
    int width() const { return width_; }
    int height() const { return height_; }
    const std::shared_ptr<Skin>& skin() const { return skin_; }
    void* native() const { return native_; }        // GtkWindow*
    void* container() const { return container_; }  // GtkFixed* holding the controls

    // The user asked to close (close box, Escape in a dialog, the window manager).
    std::function<void()> onCloseRequest;

  protected:
    Window(std::shared_ptr<Skin> skin, int width, int height, bool decorated);
    static void OnDestroy(void* widget, void* self);
    std::shared_ptr<Skin> skin_;
    void* native_ = nullptr;
    void* container_ = nullptr;
    int width_;
    int height_;
};

// The launcher's main window: no frame, the background bitmap as its whole face.
class SkinWindow : public Window {
  public:
    // The size is the background bitmap's (a fallback size when the skin lacks it).
    SkinWindow(std::shared_ptr<Skin> skin, int backgroundId, int iconId);
    ~SkinWindow() override;

    // Pressing the left button inside `band` moves the window; the right button opens
    // the band's menu.
    void SetDragBand(const Rect& band) { band_ = band; }
    // An item of the band's menu; "&" marks the mnemonic letter.
    void AddMenuItem(const std::string& utf8Label, std::function<void()> onChoose);
    void Minimise();
    // Enter that no focused control takes (Escape is swallowed: it never closes the window).
    std::function<void()> onEnter;
    // The first frame has been painted.
    std::function<void()> onFirstPaint;

  private:
    static int OnDraw(void* widget, void* cr, void* self);
    static int OnButtonPress(void* widget, void* event, void* self);
    static int OnKeyPress(void* widget, void* event, void* self);
    int backgroundId_;
    Rect band_;
    void* menu_ = nullptr;
    bool painted_ = false;
    bool focusCleared_ = false;
};

// A modal dialog with a frame and a title; `RunModal` returns the code given to `End`.
class Dialog : public Window {
  public:
    Dialog(Window* owner, std::shared_ptr<Skin> skin, int width, int height);
    ~Dialog() override;
    int RunModal();
    void End(int code);
    bool running() const { return loop_.running(); }

  private:
    static int OnKeyPress(void* widget, void* event, void* self);
    ModalLoop loop_;
};

}  // namespace platform::ui
