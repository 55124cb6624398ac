#include "platform/ui/transparent_label.h"

#include <gtk/gtk.h>
#include <pango/pangocairo.h>

#include "platform/ui/window.h"

namespace platform::ui {

CTransParentButton::CTransParentButton(Window& parent, const Rect& rect)
    : Widget(parent, gtk_drawing_area_new(), rect) {
    g_signal_connect(native_, "draw", G_CALLBACK(&CTransParentButton::OnDraw), this);
}

CTransParentButton::~CTransParentButton() { g_signal_handlers_disconnect_by_data(native_, this); }

void CTransParentButton::SetText(const std::string& utf8) {
    if (utf8 == text_) return;
    text_ = utf8;
    SetAccessibleName(text_);
    Repaint();
}

void CTransParentButton::SetColour(ColourSlot slot, Colour colour) {
    if (colours_[slot] == colour) return;
    colours_[slot] = colour;
    Repaint();
}

void CTransParentButton::SetFont(const std::string& families, int pixelHeight, bool underline) {
    fontFamilies_ = families;
    fontPixels_ = pixelHeight;
    underline_ = underline;
    Repaint();
}

void CTransParentButton::TakeBackground(int bitmapId) {
    backgroundId_ = bitmapId;
    Repaint();
}

Colour CTransParentButton::CurrentTextColour() const {
    GtkWidget* w = static_cast<GtkWidget*>(native_);
    if (!gtk_widget_is_sensitive(w)) return colours_[kTextDisabled];
    if ((gtk_widget_get_state_flags(w) & GTK_STATE_FLAG_PRELIGHT) != 0) return colours_[kTextHover];
    if (gtk_widget_has_focus(w)) return colours_[kTextFocus];
    return colours_[kTextNormal];
}

int CTransParentButton::OnDraw(void* widget, void* crp, void* selfp) {
    auto* self = static_cast<CTransParentButton*>(selfp);
    auto* cr = static_cast<cairo_t*>(crp);
    ++self->paints_;
    const Skin* skin = self->parent_.skin().get();
    if (auto* bg =
            static_cast<cairo_surface_t*>(skin ? skin->Surface(self->backgroundId_) : nullptr)) {
        // The label's own piece of the background: its position in the parent.
        cairo_set_source_surface(cr, bg, -self->rect_.x, -self->rect_.y);
        cairo_paint(cr);
    }
    if (self->text_.empty()) return TRUE;
    PangoLayout* layout = gtk_widget_create_pango_layout(static_cast<GtkWidget*>(widget), nullptr);
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, self->fontFamilies_.c_str());
    pango_font_description_set_absolute_size(font, self->fontPixels_ * PANGO_SCALE);
    pango_font_description_set_weight(font, PANGO_WEIGHT_NORMAL);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    if (self->underline_) {
        PangoAttrList* attrs = pango_attr_list_new();
        pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        pango_layout_set_attributes(layout, attrs);
        pango_attr_list_unref(attrs);
    }
    pango_layout_set_text(layout, self->text_.c_str(), -1);
    pango_layout_set_width(layout, self->rect_.width * PANGO_SCALE);
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    int textHeight = 0;
    pango_layout_get_pixel_size(layout, nullptr, &textHeight);
    const Colour c = self->CurrentTextColour();
    cairo_set_source_rgb(cr, RedOf(c) / 255.0, GreenOf(c) / 255.0, BlueOf(c) / 255.0);
    cairo_move_to(cr, 0, (self->rect_.height - textHeight) / 2.0);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    return TRUE;
}

}  // namespace platform::ui
