#include "platform/ui/message_box.h"

#include <gtk/gtk.h>

#include "platform/ui/window.h"

namespace platform::ui {

MessageBoxAnswer ShowMessageBox(Window* owner, const std::string& utf8Text, MessageBoxKind kind) {
    GtkWindow* parent = owner && owner->native() ? GTK_WINDOW(owner->native()) : nullptr;
    const bool question = kind == MessageBoxKind::Question;
    const GtkMessageType type = kind == MessageBoxKind::Error      ? GTK_MESSAGE_ERROR
                                : kind == MessageBoxKind::Question ? GTK_MESSAGE_QUESTION
                                                                   : GTK_MESSAGE_INFO;
    GtkWidget* box = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, type,
                                            question ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK, "%s",
                                            utf8Text.c_str());
    gtk_window_set_title(GTK_WINDOW(box), "");
    if (parent == nullptr) gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
    if (question) gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_YES);
    const int response = gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    if (!question) return MessageBoxAnswer::Ok;
    return response == GTK_RESPONSE_YES ? MessageBoxAnswer::Yes : MessageBoxAnswer::No;
}

}  // namespace platform::ui
