/* Preloaded into the launcher by a test: the network library refuses to start. */
#include <curl/curl.h>

CURLcode curl_global_init(long flags) {
    (void)flags;
    return CURLE_FAILED_INIT;
}
