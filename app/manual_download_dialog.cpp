#include "app/manual_download_dialog.h"

#include "update/message_table.h"

namespace {
constexpr const char* kTitle = "下载失败";
constexpr const char* kExplanation =
    "自动更新程序无法下载部分升级补丁，请您关闭Launch然后重新尝试，也可以在通过下面的网站下载手动更"
    "新程序。";
}  // namespace

CManualDownloadDlg::CManualDownloadDlg(platform::ui::Window* owner,
                                       std::shared_ptr<platform::ui::Skin> skin,
                                       std::function<void(const std::string& url)> openUrl)
    : dialog_(owner, std::move(skin), 400, 170),
      icon_(dialog_, {16, 16, 32, 32}, "notice"),
      text_(dialog_, {64, 16, 320, 60}, kExplanation),
      link_(dialog_, {58, 84, 326, 28}, GetMessageText(MessageId::kOperatorSite)),
      ok_(dialog_, {300, 128, 84, 28}, "OK") {
    dialog_.SetTitle(kTitle);
    dialog_.onCloseRequest = [this] { dialog_.End(2); };
    ok_.onClick = [this] { dialog_.End(1); };
    link_.onClick = [this, openUrl = std::move(openUrl)] {
        if (openUrl) openUrl(link_.text());
    };
    ok_.GrabFocus();
}
