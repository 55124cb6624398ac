#include "platform/ui/open_url.h"

#include <thread>

#include "platform/process.h"

namespace platform::ui {

bool IsOpenableUrl(const std::string& url) {
    const size_t colon = url.find(':');
    if (colon == std::string::npos) return false;
    std::string scheme = url.substr(0, colon);
    for (char& c : scheme)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (scheme == "mailto") return colon + 1 < url.size();
    // A web address names a host: "http:foo" or "http:/x" are not pages of the web.
    return (scheme == "http" || scheme == "https") && url.compare(colon, 3, "://") == 0 &&
           url.size() > colon + 3;
}

bool OpenUrl(const std::string& url) {
    // The page and the configuration are the operator's, the opener the user's desktop:
    // only web pages and mail addresses cross over, never a file, a share or a handler
    // of some other program. ("--" is not understood by xdg-open; a URL starting with "-"
    // cannot have an allowed scheme, so it is never taken for an option.)
    if (!IsOpenableUrl(url)) return false;
    const std::string opener = platform::FindProgramInPath("xdg-open");
    if (opener.empty()) return false;
    uint32_t id = 0;
    if (!platform::StartProcess(opener, {url}, "", &id)) return false;
    // Reaped in the background so that no finished opener lingers as a zombie.
    std::thread([id] { platform::WaitForProcess(id); }).detach();
    return true;
}

}  // namespace platform::ui
