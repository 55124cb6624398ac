#include "app/about_dialog.h"

namespace {
constexpr int kIconBitmap = 128;
}

CAboutDlg::CAboutDlg(platform::ui::Window* owner, std::shared_ptr<platform::ui::Skin> skin,
                     const std::string& version)
    : dialog_(owner, std::move(skin), 320, 120),
      icon_(dialog_, {16, 16, 48, 48}, kIconBitmap),
      version_(dialog_, {80, 20, 220, 20}, "Quillgate " + version),
      year_(dialog_, {80, 44, 220, 20}, "Copyright (C) 2026"),
      ok_(dialog_, {220, 80, 84, 28}, "OK") {
    dialog_.SetTitle("About Quillgate");
    dialog_.onCloseRequest = [this] { dialog_.End(1); };
    ok_.onClick = [this] { dialog_.End(1); };
    ok_.GrabFocus();
}
