#include "platform/ui/progress_bar.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>

namespace platform::ui {

ProgressBar::ProgressBar(Window& parent, const Rect& rect)
    : Widget(parent, gtk_progress_bar_new(), rect) {
    GtkWidget* w = static_cast<GtkWidget*>(native_);
    char css[768];
    std::snprintf(css, sizeof(css),
                  "progressbar trough { min-height: %dpx; min-width: 1px; border: none;"
                  " border-radius: 0; background-image: none; box-shadow: none;"
                  " background-color: #%02X%02X%02X; }"
                  "progressbar progress { min-height: %dpx; border: none; border-radius: 0;"
                  " background-image: none; box-shadow: none; background-color: #%02X%02X%02X; }"
                  "progressbar { min-height: %dpx; padding: 0; margin: 0; }",
                  rect.height, RedOf(kProgressTroughColour), GreenOf(kProgressTroughColour),
                  BlueOf(kProgressTroughColour), rect.height, RedOf(kProgressFillColour),
                  GreenOf(kProgressFillColour), BlueOf(kProgressFillColour), rect.height);
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css, -1, nullptr);
    // Applied to the bar and its inner nodes alike.
    gtk_style_context_add_provider(gtk_widget_get_style_context(w), GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
    gtk_progress_bar_set_pulse_step(GTK_PROGRESS_BAR(w), 0.02);
}

ProgressBar::~ProgressBar() { marquee_.Stop(); }

void ProgressBar::SetPosition(int percent) {
    position_ = std::clamp(percent, 0, 100);
    if (!marquee_.running())
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(native_), position_ / 100.0);
}

void ProgressBar::StartMarquee(uint32_t stepMs) {
    marquee_.Start(stepMs, [this] { gtk_progress_bar_pulse(GTK_PROGRESS_BAR(native_)); });
}

void ProgressBar::StopMarquee() {
    marquee_.Stop();
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(native_), position_ / 100.0);
}

}  // namespace platform::ui
