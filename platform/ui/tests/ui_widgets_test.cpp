// The skinned controls drawn for real under a display: which picture each state shows,
// the check and radio rules, and what a label's text change repaints.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "platform/ui/open_url.h"
#include "platform/ui/skin_button.h"
#include "platform/ui/transparent_label.h"
#include "platform/ui/window.h"
#include "testing/temp_dir.h"
#include "testing/ui_test_support.h"

namespace {

using platform::ui::CTransParentButton;
using platform::ui::CxSkinButton;

constexpr uint32_t kNormal = 0x102030, kDown = 0x40C040, kOver = 0x4040C0, kDisabled = 0x808080,
                   kFocus = 0xC0C040, kBackground = 0x203040;

class SkinWidgetsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui_test::RequireDisplay();
        ui_test::WriteSolidSkin(skinDir_.path().string(),
                                {{1, kNormal}, {2, kDown}, {3, kOver}, {4, kDisabled}, {5, kFocus}},
                                40, 20);
        ui_test::WriteSolidSkin(skinDir_.path().string(), {{131, kBackground}}, 300, 200);
        window_ = std::make_unique<platform::ui::SkinWindow>(
            platform::ui::Skin::Load(skinDir_.path().string()), 131, 0);
    }

    std::unique_ptr<CxSkinButton> Button(CxSkinButton::Kind kind, int x = 10, int disabled = 4) {
        auto b = std::make_unique<CxSkinButton>(*window_, platform::ui::Rect{x, 10, 40, 20}, kind);
        b->SetSkin(1, 2, 3, disabled, 5);
        return b;
    }

    static uint32_t Shown(CxSkinButton& b) {
        ui_test::Settle();
        return ui_test::PixelOf(b.native(), 20, 10);
    }

    testing_support::TempDir skinDir_{"qg_ui_skin"};
    std::unique_ptr<platform::ui::SkinWindow> window_;
};

TEST_F(SkinWidgetsTest, EachStateShowsItsPicture) {
    window_->Show();
    struct Case {
        const char* state;
        GtkStateFlags flags;
        bool enabled;
        bool focused;
        int disabledBitmap;
        uint32_t expected;
    } cases[] = {
        {"normal", GTK_STATE_FLAG_NORMAL, true, false, 4, kNormal},
        {"pressed", GTK_STATE_FLAG_ACTIVE, true, false, 4, kDown},
        {"hover", GTK_STATE_FLAG_PRELIGHT, true, false, 4, kOver},
        {"pressed while hovered", GtkStateFlags(GTK_STATE_FLAG_ACTIVE | GTK_STATE_FLAG_PRELIGHT),
         true, false, 4, kDown},
        {"focused", GTK_STATE_FLAG_NORMAL, true, true, 4, kFocus},
        {"disabled", GTK_STATE_FLAG_NORMAL, false, false, 4, kDisabled},
        {"disabled and hovered", GTK_STATE_FLAG_PRELIGHT, false, false, 4, kDisabled},
        {"disabled without a disabled picture", GTK_STATE_FLAG_NORMAL, false, false, 0, kNormal},
    };
    for (const Case& c : cases) {
        auto b = Button(CxSkinButton::Kind::Push, 10, c.disabledBitmap);
        b->SetEnabled(c.enabled);
        if (c.flags != GTK_STATE_FLAG_NORMAL)
            gtk_widget_set_state_flags(static_cast<GtkWidget*>(b->native()), c.flags, FALSE);
        if (c.focused) gtk_widget_grab_focus(static_cast<GtkWidget*>(b->native()));
        EXPECT_EQ(Shown(*b), c.expected) << c.state;
    }
}

TEST_F(SkinWidgetsTest, ClicksCheckAsEachKindDoes) {
    window_->Show();
    auto push = Button(CxSkinButton::Kind::Push, 10);
    auto check = Button(CxSkinButton::Kind::Check, 60);
    auto other = Button(CxSkinButton::Kind::Check, 110);
    int clicks = 0;
    check->onClick = [&] { ++clicks; };

    gtk_button_clicked(GTK_BUTTON(push->native()));
    push->SetChecked(true);
    EXPECT_FALSE(push->checked()) << "a push button is never checked";

    gtk_button_clicked(GTK_BUTTON(check->native()));
    EXPECT_TRUE(check->checked());
    EXPECT_EQ(Shown(*check), kDown) << "checked shows the pressed picture";
    EXPECT_FALSE(other->checked()) << "check boxes are independent";
    gtk_button_clicked(GTK_BUTTON(check->native()));
    EXPECT_FALSE(check->checked());
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(Shown(*check), kNormal);
}

TEST_F(SkinWidgetsTest, ARadioGroupKeepsOneChecked) {
    window_->Show();
    auto a = Button(CxSkinButton::Kind::Radio, 10);
    auto b = Button(CxSkinButton::Kind::Radio, 60);
    auto c = Button(CxSkinButton::Kind::Radio, 110);
    CxSkinButton::MakeGroup({a.get(), b.get(), c.get()});
    gtk_button_clicked(GTK_BUTTON(a->native()));
    gtk_button_clicked(GTK_BUTTON(c->native()));
    EXPECT_FALSE(a->checked());
    EXPECT_FALSE(b->checked());
    EXPECT_TRUE(c->checked());
    gtk_button_clicked(GTK_BUTTON(c->native()));
    EXPECT_TRUE(c->checked()) << "clicking the checked radio button keeps it checked";
    b->SetChecked(true);
    EXPECT_EQ(int(a->checked()) + int(b->checked()) + int(c->checked()), 1);
    EXPECT_EQ(Shown(*c), kNormal) << "an unchecked button is redrawn";
}

TEST_F(SkinWidgetsTest, ALabelPaintsItsPieceOfTheBackgroundAndRepaintsAlone) {
    CTransParentButton status(*window_, {10, 100, 200, 18});
    CTransParentButton detail(*window_, {10, 130, 200, 18});
    auto neighbour = Button(CxSkinButton::Kind::Push, 10);
    for (CTransParentButton* l : {&status, &detail}) {
        l->TakeBackground(131);
        l->SetColour(CTransParentButton::kTextNormal, 0x0000FAFA);
        l->SetColour(CTransParentButton::kTextDisabled, 0x0000FAFA);
    }
    window_->Show();
    ASSERT_TRUE(
        ui_test::RunUntil([&] { return status.paintCount() > 0 && detail.paintCount() > 0; }));
    EXPECT_EQ(ui_test::PixelOf(status.native(), 190, 9), kBackground);

    const uint64_t statusBefore = status.paintCount(), detailBefore = detail.paintCount();
    status.SetText("downloading p1.jzq");
    ASSERT_TRUE(ui_test::RunUntil([&] { return status.paintCount() > statusBefore; }));
    // One more turn of the loop: anything else invalidated would be drawn by now.
    ui_test::Settle();
    EXPECT_EQ(detail.paintCount(), detailBefore) << "the other label was not repainted";

    const uint64_t after = status.paintCount();
    status.SetText("downloading p1.jzq");
    ui_test::Settle();
    EXPECT_EQ(status.paintCount(), after) << "the same text repaints nothing";
}

TEST_F(SkinWidgetsTest, ALabelDrawsItsTextInItsColour) {
    CTransParentButton label(*window_, {10, 100, 200, 18});
    label.TakeBackground(131);
    label.SetFont("WenQuanYi Micro Hei", 16);
    label.SetText("\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88");  // full blocks
    label.SetEnabled(false);
    for (auto slot : {CTransParentButton::kTextNormal, CTransParentButton::kTextDisabled})
        label.SetColour(slot, 0x001900FF);  // 0x00BBGGRR: red
    window_->Show();
    ASSERT_TRUE(ui_test::RunUntil([&] { return label.paintCount() > 0; }));
    bool red = false;
    for (int x = 0; x < 60 && !red; ++x) red = ui_test::PixelOf(label.native(), x, 9) == 0xFF0019;
    EXPECT_TRUE(red) << "the text is drawn in the red of 0x001900FF";
}

// Enter goes to the focused control when it takes it (a button reached with Tab, a text
// field); only Enter that nothing takes is the window's own (the start button's key). A
// window just shown has nothing focused, and a click does not move the focus to a button.
TEST_F(SkinWidgetsTest, EnterGoesToTheFocusedControlFirst) {
    int windowEnters = 0, clicks = 0, activations = 0;
    window_->onEnter = [&] { ++windowEnters; };
    auto button = Button(CxSkinButton::Kind::Push);
    button->onClick = [&] { ++clicks; };
    GtkWidget* field = gtk_entry_new();
    g_signal_connect(field, "activate",
                     G_CALLBACK(+[](GtkEntry*, gpointer n) { ++*static_cast<int*>(n); }),
                     &activations);
    gtk_fixed_put(GTK_FIXED(window_->container()), field, 10, 100);
    gtk_widget_show(field);
    window_->Show();
    ui_test::Settle();
    GtkWindow* window = GTK_WINDOW(window_->native());
    EXPECT_EQ(gtk_window_get_focus(window), nullptr) << "nothing focused at first";

    const auto pressEnter = [&] {
        GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
        event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(window))));
        event->key.keyval = GDK_KEY_Return;
        GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
        gdk_event_set_device(event, gdk_seat_get_keyboard(seat));
        gtk_main_do_event(event);
        gdk_event_free(event);
    };
    pressEnter();
    EXPECT_EQ(windowEnters, 1) << "nothing focused: the window's own";

    gtk_widget_grab_focus(static_cast<GtkWidget*>(button->native()));
    pressEnter();
    ASSERT_TRUE(ui_test::RunUntil([&] { return clicks == 1; })) << "the focused button's";
    EXPECT_EQ(windowEnters, 1);

    gtk_widget_grab_focus(field);
    pressEnter();
    EXPECT_EQ(activations, 1) << "the focused field's";
    EXPECT_EQ(windowEnters, 1);

    // A disabled button has no use for it: back to the window.
    gtk_widget_grab_focus(static_cast<GtkWidget*>(button->native()));
    button->SetEnabled(false);
    pressEnter();
    EXPECT_EQ(windowEnters, 2);
    EXPECT_EQ(clicks, 1);
}

// The user's browser gets the address as one argument; only web pages and mail addresses
// reach it, never a file, a share, another program's handler or an option of the opener.
TEST(OpenUrl, HandsOnlyWebAndMailAddressesToTheOpener) {
    testing_support::TempDir bin("qg_opener");
    const std::string log = bin / "opened.txt";
    testing_support::WriteFile(bin / "xdg-open",
                               "#!/bin/sh\nprintf '%s|' \"$@\" >> '" + log + "'\n");
    std::filesystem::permissions(bin / "xdg-open", std::filesystem::perms::owner_all);
    const char* oldPath = std::getenv("PATH");
    const std::string path = oldPath ? oldPath : "/usr/bin:/bin";
    platform::SetEnvironmentVariable("PATH", bin.path().string() + ":" + path);
    for (const char* refused :
         {"--help", "", "file:///etc/passwd", "FILE:///etc/passwd", "smb://127.0.0.1/share",
          "javascript:alert(1)", "steam://run/1", "ftp://127.0.0.1/x", "http:/x", "http://",
          "127.0.0.1/page", "mailto:"})
        EXPECT_FALSE(platform::ui::OpenUrl(refused)) << refused;
    EXPECT_TRUE(platform::ui::OpenUrl("http://127.0.0.1/a b;c"));
    const std::vector<std::string> allowed = {"HTTPS://127.0.0.1/", "mailto:news@example.org"};
    for (const std::string& url : allowed) EXPECT_TRUE(platform::ui::IsOpenableUrl(url)) << url;
    platform::SetEnvironmentVariable("PATH", path);
    for (int i = 0; i < 2000 && testing_support::ReadFile(log).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(testing_support::ReadFile(log), "http://127.0.0.1/a b;c|");
}

}  // namespace
