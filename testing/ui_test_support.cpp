#include "testing/ui_test_support.h"

#include <gtk/gtk.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/ui/toolkit.h"

namespace ui_test {

void RequireDisplay() {
    // A virtual display under a loaded machine has been seen to refuse one connection now
    // and then; a few tries tell that apart from a display that is not there.
    static const bool ready = [] {
        if (!platform::ui::DisplayNamed()) return false;
        for (int attempt = 1; attempt <= 5; ++attempt) {
            if (platform::ui::InitToolkit()) return true;
            std::fprintf(stderr, "display %s refused connection attempt %d\n",
                         std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "(none)", attempt);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    }();
    ASSERT_TRUE(ready) << "the window tests need a display: run them under xvfb-run "
                          "(scripts/test does)";
    // The pointer where no test puts a window, so that nothing shows its hover look.
    GdkDisplay* display = gdk_display_get_default();
    GdkSeat* seat = display ? gdk_display_get_default_seat(display) : nullptr;
    if (GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr) {
        GdkScreen* screen = gdk_display_get_default_screen(display);
        gdk_device_warp(pointer, screen, 10000, 10000);  // the server keeps it on the screen
    }
}

void WriteSolidSkin(const std::string& folder, const std::map<int, uint32_t>& colours, int width,
                    int height) {
    for (const auto& [id, rgb] : colours) {
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
        cairo_t* cr = cairo_create(s);
        cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                             (rgb & 0xFF) / 255.0);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_write_to_png(s, (folder + "/" + std::to_string(id) + ".png").c_str());
        cairo_surface_destroy(s);
    }
}

uint32_t PixelOf(void* widgetp, int x, int y) {
    GtkWidget* widget = static_cast<GtkWidget*>(widgetp);
    // Lay out what changed since the last frame, as the next frame would.
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    if (GTK_IS_CONTAINER(top)) gtk_container_check_resize(GTK_CONTAINER(top));
    const int w = gtk_widget_get_allocated_width(widget);
    const int h = gtk_widget_get_allocated_height(widget);
    cairo_surface_t* s =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::max(w, 1), std::max(h, 1));
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    gtk_widget_draw(widget, cr);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    uint32_t pixel = 0;
    if (x >= 0 && y >= 0 && x < w && y < h) {
        const unsigned char* data = cairo_image_surface_get_data(s);
        pixel = *reinterpret_cast<const uint32_t*>(data + y * cairo_image_surface_get_stride(s) +
                                                   x * 4) &
                0xFFFFFF;
    }
    cairo_surface_destroy(s);
    return pixel;
}

void Settle() { platform::ui::ProcessPendingEvents(); }

bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
    const gint64 end = g_get_monotonic_time() + static_cast<gint64>(timeoutMs) * 1000;
    // A short wake-up keeps the loop turning while nothing else is due.
    const guint tick = g_timeout_add(
        5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool ok = done();
    while (!ok && g_get_monotonic_time() < end) {
        g_main_context_iteration(nullptr, TRUE);
        ok = done();
    }
    g_source_remove(tick);
    return ok;
}

}  // namespace ui_test
