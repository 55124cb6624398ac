#include "platform/ui/open_url.h"

#include <thread>

#include "platform/process.h"

namespace platform::ui {

bool OpenUrl(const std::string& url) {
    if (url.empty()) return false;
    const std::string opener = platform::FindProgramInPath("xdg-open");
    if (opener.empty()) return false;
    uint32_t id = 0;
    // "--" is not understood by xdg-open; a URL starting with "-" is refused instead, so
    // that it cannot be taken for an option.
    if (url[0] == '-') return false;
    if (!platform::StartProcess(opener, {url}, "", &id)) return false;
    // Reaped in the background so that no finished opener lingers as a zombie.
    std::thread([id] { platform::WaitForProcess(id); }).detach();
    return true;
}

}  // namespace platform::ui
