// The embedded web page (the news page). Pages open inside it; links the user clicks
// leave it: they are handed to `onOpenOutside` (the user's own browser), never followed
// here. A page that cannot load shows "about:blank" instead of an error page.
#pragma once

#include <functional>
#include <string>

#include "platform/ui/widget.h"

namespace platform::ui {

class BrowserView : public Widget {
  public:
    BrowserView(Window& parent, const Rect& rect);
    ~BrowserView() override;
    void Navigate(const std::string& url);
    std::string CurrentUri() const;
    bool loading() const;
    // A link clicked in the page (also one that asks for a new window).
    std::function<void(const std::string& url)> onOpenOutside;

  private:
    static int OnDecidePolicy(void* view, void* decision, int type, void* self);
    static int OnLoadFailed(void* view, int event, const char* uri, void* error, void* self);
};

}  // namespace platform::ui
