#include "platform/http_global.h"

#include <curl/curl.h>

#include <mutex>

namespace platform {

bool EnsureHttpGlobalInit() {
    // libcurl's global set-up is not thread-safe by itself; call_once makes it so.
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] { started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return started;
}

}  // namespace platform
