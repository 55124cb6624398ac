// Test support: the status and body of one HTTP answer, collected through the transfer's
// events.
#pragma once

#include <string>

#include "platform/http_transfer.h"

namespace testing_support {

struct HttpReply : platform::HttpTransferEvents {
    void OnResolving(const std::string&) override {}
    void OnConnecting() override {}
    void OnConnected() override {}
    void OnRedirect(long, const std::string&) override {}
    bool OnResponse(long s, int64_t) override {
        status = s;
        return true;
    }
    bool OnBody(const char* data, size_t size) override {
        body.append(data, size);
        return true;
    }
    bool OnTick() override { return true; }

    long status = 0;
    std::string body;
};

}  // namespace testing_support
