#include "platform/http_global.h"

#include <curl/curl.h>

#include <mutex>

namespace platform {

void EnsureHttpGlobalInit() {
    // libcurl's global set-up is not thread-safe by itself; call_once makes it so.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace platform
