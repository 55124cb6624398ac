#include "platform/ui/window.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <string>

namespace platform::ui {
namespace {

// A bare window when the skin lacks its background.
constexpr int kFallbackWidth = 736;
constexpr int kFallbackHeight = 476;

GtkWidget* W(void* p) { return static_cast<GtkWidget*>(p); }

// "&A" marks a mnemonic in the launcher's texts; the toolkit writes "_A" (and "__"
// for a plain underscore).
std::string Mnemonic(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '_')
            out += "__";
        else if (c == '&')
            out += '_';
        else
            out += c;
    }
    return out;
}

bool IsEnter(guint key) {
    return key == GDK_KEY_Return || key == GDK_KEY_KP_Enter || key == GDK_KEY_ISO_Enter;
}

}  // namespace

Window::Window(std::shared_ptr<Skin> skin, int width, int height, bool decorated)
    : skin_(std::move(skin)), width_(width), height_(height) {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(window);
    native_ = window;
    gtk_window_set_decorated(GTK_WINDOW(window), decorated);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, width, height);
    gtk_container_add(GTK_CONTAINER(window), fixed);
    gtk_widget_show(fixed);
    container_ = fixed;
    g_signal_connect(window, "destroy", G_CALLBACK(&Window::OnDestroy), this);
    g_signal_connect(window, "delete-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                         auto* w = static_cast<Window*>(self);
                         if (w->onCloseRequest) w->onCloseRequest();
                         return TRUE;  // the owner decides whether the window goes
                     }),
                     this);
}

Window::~Window() {
    if (native_ != nullptr) {
        GtkWidget* window = W(native_);
        g_signal_handlers_disconnect_by_data(window, this);
        gtk_widget_destroy(window);
        g_object_unref(window);
    }
}

void Window::OnDestroy(void* widget, void* self) {
    auto* w = static_cast<Window*>(self);
    if (w->native_ == widget) {
        g_signal_handlers_disconnect_by_data(widget, self);
        g_object_unref(widget);
        w->native_ = nullptr;
        w->container_ = nullptr;
    }
}

void Window::SetTitle(const std::string& utf8) {
    if (native_) gtk_window_set_title(GTK_WINDOW(native_), utf8.c_str());
}

void Window::Show() {
    if (native_) gtk_widget_show(W(native_));
}

void Window::Hide() {
    if (native_) gtk_widget_hide(W(native_));
}

void Window::Destroy() {
    if (native_) gtk_widget_destroy(W(native_));  // OnDestroy forgets it
}

uint32_t Window::NativeId() const {
    if (!native_) return 0;
    GdkWindow* gdk = gtk_widget_get_window(W(native_));
    if (gdk == nullptr || !GDK_IS_X11_WINDOW(gdk)) return 0;
    return static_cast<uint32_t>(gdk_x11_window_get_xid(gdk));
}

SkinWindow::SkinWindow(std::shared_ptr<Skin> skin, int backgroundId, int iconId)
    : Window(skin, skin && skin->Has(backgroundId) ? skin->Width(backgroundId) : kFallbackWidth,
             skin && skin->Has(backgroundId) ? skin->Height(backgroundId) : kFallbackHeight, false),
      backgroundId_(backgroundId) {
    GtkWidget* window = W(native_);
    gtk_widget_set_app_paintable(window, TRUE);
    gtk_widget_add_events(window, GDK_BUTTON_PRESS_MASK);
    if (auto* icon = static_cast<cairo_surface_t*>(skin_ ? skin_->Surface(iconId) : nullptr)) {
        GdkPixbuf* pixbuf = gdk_pixbuf_get_from_surface(
            icon, 0, 0, cairo_image_surface_get_width(icon), cairo_image_surface_get_height(icon));
        if (pixbuf) {
            gtk_window_set_icon(GTK_WINDOW(window), pixbuf);
            g_object_unref(pixbuf);
        }
    }
    g_signal_connect(window, "draw", G_CALLBACK(&SkinWindow::OnDraw), this);
    g_signal_connect(window, "button-press-event", G_CALLBACK(&SkinWindow::OnButtonPress), this);
    g_signal_connect(window, "key-press-event", G_CALLBACK(&SkinWindow::OnKeyPress), this);
    // The toolkit focuses the first control when the window is first shown; Enter would then
    // press that control (minimise, say) instead of starting the game. Nothing has the
    // focus until the user gives it (Tab, a click into the page).
    g_signal_connect_after(window, "show", G_CALLBACK(+[](GtkWidget* w, gpointer selfp) {
                               auto* self = static_cast<SkinWindow*>(selfp);
                               if (self->focusCleared_) return;
                               self->focusCleared_ = true;
                               gtk_window_set_focus(GTK_WINDOW(w), nullptr);
                           }),
                           this);
}

SkinWindow::~SkinWindow() {
    if (menu_ != nullptr) {
        gtk_widget_destroy(W(menu_));
        g_object_unref(menu_);
    }
}

void SkinWindow::AddMenuItem(const std::string& utf8Label, std::function<void()> onChoose) {
    if (utf8Label.empty()) return;
    if (menu_ == nullptr) {
        menu_ = gtk_menu_new();
        g_object_ref_sink(menu_);
    }
    GtkWidget* item = gtk_menu_item_new_with_mnemonic(Mnemonic(utf8Label).c_str());
    auto* handler = new std::function<void()>(std::move(onChoose));
    g_object_set_data_full(G_OBJECT(item), "qg-handler", handler,
                           [](gpointer p) { delete static_cast<std::function<void()>*>(p); });
    g_signal_connect(item, "activate", G_CALLBACK(+[](GtkMenuItem*, gpointer p) {
                         (*static_cast<std::function<void()>*>(p))();
                     }),
                     handler);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu_), item);
    gtk_widget_show(item);
}

void SkinWindow::Minimise() {
    if (native_) gtk_window_iconify(GTK_WINDOW(native_));
}

int SkinWindow::OnDraw(void*, void* crp, void* selfp) {
    auto* self = static_cast<SkinWindow*>(selfp);
    auto* cr = static_cast<cairo_t*>(crp);
    auto* bg = static_cast<cairo_surface_t*>(self->skin_ ? self->skin_->Surface(self->backgroundId_)
                                                         : nullptr);
    if (bg != nullptr) {
        cairo_set_source_surface(cr, bg, 0, 0);
    } else {
        cairo_set_source_rgb(cr, 0.1, 0.12, 0.18);
    }
    cairo_paint(cr);
    if (!self->painted_) {
        self->painted_ = true;
        if (self->onFirstPaint) self->onFirstPaint();
    }
    return FALSE;  // the controls draw on top
}

int SkinWindow::OnButtonPress(void* widget, void* eventp, void* selfp) {
    auto* self = static_cast<SkinWindow*>(selfp);
    auto* event = static_cast<GdkEventButton*>(eventp);
    if (event->type != GDK_BUTTON_PRESS ||
        !self->band_.Contains(static_cast<int>(event->x), static_cast<int>(event->y)))
        return FALSE;
    if (event->button == GDK_BUTTON_PRIMARY) {
        gtk_window_begin_move_drag(GTK_WINDOW(widget), static_cast<int>(event->button),
                                   static_cast<int>(event->x_root), static_cast<int>(event->y_root),
                                   event->time);
        return TRUE;
    }
    if (event->button == GDK_BUTTON_SECONDARY && self->menu_ != nullptr) {
        if (gtk_menu_get_attach_widget(GTK_MENU(self->menu_)) == nullptr)
            gtk_menu_attach_to_widget(GTK_MENU(self->menu_), W(widget), nullptr);
        gtk_menu_popup_at_pointer(GTK_MENU(self->menu_), reinterpret_cast<GdkEvent*>(event));
        return TRUE;
    }
    return FALSE;
}

int SkinWindow::OnKeyPress(void* widget, void* eventp, void* selfp) {
    auto* self = static_cast<SkinWindow*>(selfp);
    auto* event = static_cast<GdkEventKey*>(eventp);
    if (event->keyval == GDK_KEY_Escape) return TRUE;  // never closes the window
    if (!IsEnter(event->keyval)) return FALSE;
    // The focused control has Enter first: a form of the news page, a button reached with
    // Tab. The page answers later when it has no use for the key; the toolkit then
    // delivers the same event again, and the page lets it through.
    GtkWindow* window = GTK_WINDOW(widget);
    GtkWidget* focus = gtk_window_get_focus(window);
    if (focus != nullptr) {
        if (gtk_window_propagate_key_event(window, event)) return TRUE;
        if (gtk_widget_is_sensitive(focus) && gtk_widget_activate(focus)) return TRUE;
    }
    if (self->onEnter) self->onEnter();
    return TRUE;
}

Dialog::Dialog(Window* owner, std::shared_ptr<Skin> skin, int width, int height)
    : Window(std::move(skin), width, height, true) {
    GtkWindow* window = GTK_WINDOW(native_);
    gtk_window_set_modal(window, TRUE);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    if (owner != nullptr && owner->native() != nullptr) {
        gtk_window_set_transient_for(window, GTK_WINDOW(owner->native()));
        gtk_window_set_position(window, GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    }
    g_signal_connect(window, "key-press-event", G_CALLBACK(&Dialog::OnKeyPress), this);
}

Dialog::~Dialog() {
    if (loop_.running()) loop_.End(0);
}

int Dialog::RunModal() {
    Show();
    const int code = loop_.Run();
    Hide();
    return code;
}

void Dialog::End(int code) { loop_.End(code); }

int Dialog::OnKeyPress(void*, void* eventp, void* selfp) {
    auto* self = static_cast<Dialog*>(selfp);
    if (static_cast<GdkEventKey*>(eventp)->keyval != GDK_KEY_Escape) return FALSE;
    if (self->onCloseRequest) self->onCloseRequest();
    return TRUE;
}

}  // namespace platform::ui
