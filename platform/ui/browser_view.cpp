#include "platform/ui/browser_view.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstring>

namespace platform::ui {
namespace {

constexpr const char* kBlank = "about:blank";

}  // namespace

BrowserView::BrowserView(Window& parent, const Rect& rect)
    : Widget(parent, webkit_web_view_new(), rect) {
    g_signal_connect(native_, "decide-policy", G_CALLBACK(&BrowserView::OnDecidePolicy), this);
    g_signal_connect(native_, "load-failed", G_CALLBACK(&BrowserView::OnLoadFailed), this);
}

BrowserView::~BrowserView() {
    g_signal_handlers_disconnect_by_data(native_, this);
    webkit_web_view_stop_loading(WEBKIT_WEB_VIEW(native_));
}

void BrowserView::Navigate(const std::string& url) {
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(native_), url.empty() ? kBlank : url.c_str());
}

std::string BrowserView::CurrentUri() const {
    const char* uri = webkit_web_view_get_uri(WEBKIT_WEB_VIEW(native_));
    return uri ? uri : "";
}

bool BrowserView::loading() const {
    return webkit_web_view_is_loading(WEBKIT_WEB_VIEW(native_)) != FALSE;
}

int BrowserView::OnDecidePolicy(void*, void* decisionp, int type, void* selfp) {
    auto* self = static_cast<BrowserView*>(selfp);
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
        type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
        return FALSE;
    auto* decision = WEBKIT_NAVIGATION_POLICY_DECISION(decisionp);
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(decision);
    const bool clicked =
        webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED;
    if (!clicked && type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) return FALSE;
    // A page may only open a window in answer to a click; either way it is the user's
    // browser that shows it.
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    if (uri != nullptr && (clicked || webkit_navigation_action_is_user_gesture(action)) &&
        self->onOpenOutside)
        self->onOpenOutside(uri);
    webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
    return TRUE;
}

int BrowserView::OnLoadFailed(void* view, int, const char* uri, void* errorp, void*) {
    auto* error = static_cast<GError*>(errorp);
    // A load replaced by another one is not a failure of the page.
    if (error != nullptr &&
        g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED))
        return FALSE;
    if (error != nullptr &&
        g_error_matches(error, WEBKIT_POLICY_ERROR,
                        WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE))
        return FALSE;
    if (uri == nullptr || std::strcmp(uri, kBlank) != 0)
        webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), kBlank);
    return TRUE;  // no error page
}

}  // namespace platform::ui
