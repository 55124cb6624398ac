#include "platform/ui/widget.h"

#include <gtk/gtk.h>

#include "platform/ui/window.h"

namespace platform::ui {

Widget::Widget(Window& parent, void* nativeWidget, const Rect& rect)
    : parent_(parent), native_(nativeWidget), rect_(rect) {
    GtkWidget* w = static_cast<GtkWidget*>(native_);
    g_object_ref_sink(w);
    if (parent.container() != nullptr)
        gtk_fixed_put(GTK_FIXED(parent.container()), w, rect.x, rect.y);
    gtk_widget_set_size_request(w, rect.width, rect.height);
    gtk_widget_show(w);
}

Widget::~Widget() {
    GtkWidget* w = static_cast<GtkWidget*>(native_);
    g_signal_handlers_disconnect_by_data(w, this);
    gtk_widget_destroy(w);
    g_object_unref(w);
}

void Widget::Move(const Rect& rect) {
    rect_ = rect;
    GtkWidget* w = static_cast<GtkWidget*>(native_);
    if (GtkWidget* fixed = gtk_widget_get_parent(w); fixed && GTK_IS_FIXED(fixed))
        gtk_fixed_move(GTK_FIXED(fixed), w, rect.x, rect.y);
    gtk_widget_set_size_request(w, rect.width, rect.height);
}

void Widget::SetEnabled(bool enabled) {
    gtk_widget_set_sensitive(static_cast<GtkWidget*>(native_), enabled);
}

bool Widget::enabled() const {
    return gtk_widget_get_sensitive(static_cast<GtkWidget*>(native_)) != FALSE;
}

void Widget::SetVisible(bool visible) {
    gtk_widget_set_visible(static_cast<GtkWidget*>(native_), visible);
}

bool Widget::visible() const {
    return gtk_widget_get_visible(static_cast<GtkWidget*>(native_)) != FALSE;
}

void Widget::SetAccessibleName(const std::string& utf8) {
    AtkObject* a = gtk_widget_get_accessible(static_cast<GtkWidget*>(native_));
    if (a != nullptr) atk_object_set_name(a, utf8.c_str());
}

void Widget::Repaint() { gtk_widget_queue_draw(static_cast<GtkWidget*>(native_)); }

}  // namespace platform::ui
