#include "platform/ui/skin_button.h"

#include <gtk/gtk.h>

#include <algorithm>

#include "platform/ui/window.h"

namespace platform::ui {
namespace {

cairo_region_t* RegionOfMask(cairo_surface_t* mask) {
    cairo_region_t* region = cairo_region_create();
    cairo_surface_flush(mask);
    const int w = cairo_image_surface_get_width(mask);
    const int h = cairo_image_surface_get_height(mask);
    const int stride = cairo_image_surface_get_stride(mask);
    const unsigned char* data = cairo_image_surface_get_data(mask);
    if (data == nullptr) return region;
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + y * stride);
        int start = -1;
        for (int x = 0; x <= w; ++x) {
            const bool inside = x < w && (row[x] & 0x00FFFFFF) != 0x00FFFFFF;
            if (inside && start < 0) start = x;
            if (!inside && start >= 0) {
                const cairo_rectangle_int_t run{start, y, x - start, 1};
                cairo_region_union_rectangle(region, &run);
                start = -1;
            }
        }
    }
    return region;
}

}  // namespace

CxSkinButton::CxSkinButton(Window& parent, const Rect& rect, Kind kind)
    : Widget(parent, gtk_button_new(), rect), kind_(kind) {
    GtkWidget* w = static_cast<GtkWidget*>(native_);
    // The bitmaps are the whole button: no theme padding may make it larger than placed.
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css,
                                    "button { padding: 0; margin: 0; min-width: 0; min-height: 0;"
                                    " border: none; box-shadow: none; outline: none; }",
                                    -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(w), GTK_STYLE_PROVIDER(css),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
    // A click leaves the keyboard focus where it was: Enter after a click on, say, the style
    // buttons still belongs to the window (the start button's key), as in the dialogs of
    // the original skin. Tab still reaches every button.
    gtk_widget_set_focus_on_click(w, FALSE);
    g_signal_connect(w, "draw", G_CALLBACK(&CxSkinButton::OnDraw), this);
    g_signal_connect(w, "clicked", G_CALLBACK(&CxSkinButton::OnClicked), this);
    g_signal_connect(w, "button-press-event", G_CALLBACK(&CxSkinButton::OnButtonPress), this);
}

CxSkinButton::~CxSkinButton() {
    g_signal_handlers_disconnect_by_data(native_, this);
    if (group_ != nullptr) std::erase(*group_, this);
    if (maskRegion_ != nullptr) cairo_region_destroy(static_cast<cairo_region_t*>(maskRegion_));
}

void CxSkinButton::SetSkin(int normal, int down, int over, int disabled, int focus, int mask,
                           int drawMode, bool border, int focusMargin) {
    normal_ = normal;
    down_ = down;
    over_ = over;
    disabled_ = disabled;
    focus_ = focus;
    drawMode_ = std::clamp(drawMode, 0, 2);
    border_ = border;
    focusMargin_ = std::max(focusMargin, 0);
    if (maskRegion_ != nullptr) cairo_region_destroy(static_cast<cairo_region_t*>(maskRegion_));
    maskRegion_ = nullptr;
    const Skin* skin = parent_.skin().get();
    if (mask != 0 && skin != nullptr && skin->Has(mask)) {
        maskRegion_ = RegionOfMask(static_cast<cairo_surface_t*>(skin->Surface(mask)));
        if (drawMode_ == kDrawNatural)
            Move({rect_.x, rect_.y, skin->Width(mask), skin->Height(mask)});
    } else if (drawMode_ == kDrawNatural && skin != nullptr && skin->Has(normal)) {
        Move({rect_.x, rect_.y, skin->Width(normal), skin->Height(normal)});
    }
    Repaint();
}

void CxSkinButton::SetNormalBitmap(int id) {
    normal_ = id;
    Repaint();
}

void CxSkinButton::SetChecked(bool checked) {
    if (kind_ == Kind::Push) checked = false;
    if (kind_ == Kind::Radio && checked && group_ != nullptr) {
        for (CxSkinButton* other : *group_) {
            if (other != this && other->checked_) {
                other->checked_ = false;
                other->Repaint();
            }
        }
    }
    if (checked_ != checked) {
        checked_ = checked;
        Repaint();
    }
}

void CxSkinButton::MakeGroup(const std::vector<CxSkinButton*>& buttons) {
    auto group = std::make_shared<std::vector<CxSkinButton*>>(buttons);
    for (CxSkinButton* b : buttons) {
        b->group_ = group.get();
        b->groupOwner_ = group;
    }
}

int CxSkinButton::ShownBitmap() const {
    GtkWidget* w = static_cast<GtkWidget*>(native_);
    const GtkStateFlags flags = gtk_widget_get_state_flags(w);
    if (!gtk_widget_is_sensitive(w)) return disabled_ != 0 ? disabled_ : normal_;
    if ((flags & GTK_STATE_FLAG_ACTIVE) != 0 || checked_) return down_ != 0 ? down_ : normal_;
    if ((flags & GTK_STATE_FLAG_PRELIGHT) != 0) return over_ != 0 ? over_ : normal_;
    if (gtk_widget_is_focus(w) && focus_ != 0) return focus_;
    return normal_;
}

int CxSkinButton::OnDraw(void* widget, void* crp, void* selfp) {
    auto* self = static_cast<CxSkinButton*>(selfp);
    auto* cr = static_cast<cairo_t*>(crp);
    GtkWidget* w = static_cast<GtkWidget*>(widget);
    const int width = gtk_widget_get_allocated_width(w);
    const int height = gtk_widget_get_allocated_height(w);
    const Skin* skin = self->parent_.skin().get();
    const int id = self->ShownBitmap();
    auto* picture = static_cast<cairo_surface_t*>(skin && id ? skin->Surface(id) : nullptr);
    cairo_save(cr);
    if (self->maskRegion_ != nullptr) {
        gdk_cairo_region(cr, static_cast<cairo_region_t*>(self->maskRegion_));
        cairo_clip(cr);
    }
    if (picture != nullptr) {
        const int pw = cairo_image_surface_get_width(picture);
        const int ph = cairo_image_surface_get_height(picture);
        if (self->drawMode_ == kDrawStretch && pw > 0 && ph > 0) {
            cairo_scale(cr, static_cast<double>(width) / pw, static_cast<double>(height) / ph);
            cairo_set_source_surface(cr, picture, 0, 0);
        } else {
            cairo_set_source_surface(cr, picture, 0, 0);
            if (self->drawMode_ == kDrawTile)
                cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_REPEAT);
        }
        cairo_paint(cr);
    }
    cairo_restore(cr);
    if (self->border_) {
        // A raised edge: light on the top and left, dark on the bottom and right.
        cairo_set_line_width(cr, 1);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_move_to(cr, 0.5, height - 0.5);
        cairo_line_to(cr, 0.5, 0.5);
        cairo_line_to(cr, width - 0.5, 0.5);
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0.25, 0.25, 0.25);
        cairo_move_to(cr, width - 0.5, 0.5);
        cairo_line_to(cr, width - 0.5, height - 0.5);
        cairo_line_to(cr, 0.5, height - 0.5);
        cairo_stroke(cr);
    }
    if (gtk_widget_has_visible_focus(w)) {
        const double m = self->focusMargin_ + 0.5;
        const double dash = 1;
        cairo_set_dash(cr, &dash, 1, 0);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_set_line_width(cr, 1);
        cairo_rectangle(cr, m, m, width - 2 * m, height - 2 * m);
        cairo_stroke(cr);
    }
    return TRUE;  // everything is painted from the bitmaps: no theme background
}

void CxSkinButton::OnClicked(void*, void* selfp) {
    auto* self = static_cast<CxSkinButton*>(selfp);
    if (self->kind_ == Kind::Check) self->SetChecked(!self->checked_);
    if (self->kind_ == Kind::Radio) self->SetChecked(true);
    if (self->onClick) self->onClick();
}

int CxSkinButton::OnButtonPress(void*, void* eventp, void* selfp) {
    auto* self = static_cast<CxSkinButton*>(selfp);
    auto* event = static_cast<GdkEventButton*>(eventp);
    // Outside the mask the press is not the button's.
    return self->InMask(static_cast<int>(event->x), static_cast<int>(event->y)) ? FALSE : TRUE;
}

bool CxSkinButton::InMask(int x, int y) const {
    if (maskRegion_ == nullptr) return true;
    return cairo_region_contains_point(static_cast<cairo_region_t*>(maskRegion_), x, y) != FALSE;
}

}  // namespace platform::ui
