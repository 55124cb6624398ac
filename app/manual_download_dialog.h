// Shown when a patch package cannot be downloaded: it sends the user to the operator's
// site for the manual update; the launcher quits afterwards.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/dialog_widgets.h"
#include "platform/ui/window.h"

class CManualDownloadDlg {
  public:
    CManualDownloadDlg(platform::ui::Window* owner, std::shared_ptr<platform::ui::Skin> skin,
                       std::function<void(const std::string& url)> openUrl);
    int RunModal() { return dialog_.RunModal(); }
    platform::ui::Dialog& dialog() { return dialog_; }
    platform::ui::LinkLabel& link() { return link_; }

  private:
    platform::ui::Dialog dialog_;
    platform::ui::Picture icon_;
    platform::ui::TextLabel text_;
    platform::ui::LinkLabel link_;
    platform::ui::TextButton ok_;
};
