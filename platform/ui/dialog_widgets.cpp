#include "platform/ui/dialog_widgets.h"

#include <gtk/gtk.h>

#include <algorithm>

#include "platform/ui/window.h"

namespace platform::ui {
namespace {

void RunHandler(GtkButton*, gpointer handler) {
    auto* f = static_cast<std::function<void()>*>(handler);
    if (*f) (*f)();
}

GtkWidget* NewLabel(const std::string& utf8) {
    GtkWidget* label = gtk_label_new(utf8.c_str());
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_yalign(GTK_LABEL(label), 0);
    return label;
}

GtkWidget* PictureOf(void* surface) {
    return surface ? gtk_image_new_from_surface(static_cast<cairo_surface_t*>(surface))
                   : gtk_image_new();
}

std::string Escaped(const std::string& utf8) {
    gchar* e = g_markup_escape_text(utf8.c_str(), -1);
    std::string out = e;
    g_free(e);
    return out;
}

}  // namespace

TextLabel::TextLabel(Window& parent, const Rect& rect, const std::string& utf8)
    : Widget(parent, NewLabel(utf8), rect) {
    // Wraps near the given width: a fixed layout gives the label its natural size, and an
    // unbounded natural width (or a tiny one) would stretch the dialog.
    gtk_label_set_max_width_chars(GTK_LABEL(native_), std::max(1, rect.width / 14));
}

void TextLabel::SetText(const std::string& utf8) {
    gtk_label_set_text(GTK_LABEL(native_), utf8.c_str());
}

std::string TextLabel::text() const { return gtk_label_get_text(GTK_LABEL(native_)); }

TextButton::TextButton(Window& parent, const Rect& rect, const std::string& utf8Caption)
    : Widget(parent, gtk_button_new_with_mnemonic(utf8Caption.c_str()), rect) {
    g_signal_connect(native_, "clicked", G_CALLBACK(&RunHandler), &onClick);
}

TextButton::~TextButton() { g_signal_handlers_disconnect_by_data(native_, &onClick); }

void TextButton::GrabFocus() { gtk_widget_grab_focus(static_cast<GtkWidget*>(native_)); }

LinkLabel::LinkLabel(Window& parent, const Rect& rect, const std::string& utf8)
    : Widget(parent, gtk_button_new_with_label(""), rect) {
    gtk_button_set_relief(GTK_BUTTON(native_), GTK_RELIEF_NONE);
    SetText(utf8);
    g_signal_connect(native_, "clicked", G_CALLBACK(&RunHandler), &onClick);
}

LinkLabel::~LinkLabel() { g_signal_handlers_disconnect_by_data(native_, &onClick); }

void LinkLabel::SetText(const std::string& utf8) {
    text_ = utf8;
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(native_));
    if (child && GTK_IS_LABEL(child)) {
        const std::string markup =
            "<span foreground=\"#1a5fb4\" underline=\"single\">" + Escaped(utf8) + "</span>";
        gtk_label_set_markup(GTK_LABEL(child), markup.c_str());
        gtk_label_set_xalign(GTK_LABEL(child), 0);
    }
    SetAccessibleName(utf8);
}

Picture::Picture(Window& parent, const Rect& rect, const std::string& name)
    : Widget(parent, PictureOf(parent.skin() ? parent.skin()->Surface(name) : nullptr), rect) {}

Picture::Picture(Window& parent, const Rect& rect, int bitmapId)
    : Widget(parent, PictureOf(parent.skin() ? parent.skin()->Surface(bitmapId) : nullptr), rect) {}

}  // namespace platform::ui
