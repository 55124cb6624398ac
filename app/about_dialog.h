// The about box, opened from the menu of the main window's top band.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/dialog_widgets.h"
#include "platform/ui/window.h"

class CAboutDlg {
  public:
    CAboutDlg(platform::ui::Window* owner, std::shared_ptr<platform::ui::Skin> skin,
              const std::string& version);
    int RunModal() { return dialog_.RunModal(); }
    platform::ui::Dialog& dialog() { return dialog_; }

  private:
    platform::ui::Dialog dialog_;
    platform::ui::Picture icon_;
    platform::ui::TextLabel version_;
    platform::ui::TextLabel year_;
    platform::ui::TextButton ok_;
};
