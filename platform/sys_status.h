// The result of a call into the operating system: on failure, which operation failed and
// the errno value it gave, so that callers can name both in their own texts.
#pragma once

namespace platform {

struct SysStatus {
    const char* operation = nullptr;  // "open", "rename", ...: the failed step; null on success
    int error = 0;                    // errno value; 0 on success

    static SysStatus Ok() { return {}; }
    // A failure that the system reported without a number still counts as one (EIO).
    static SysStatus Failed(const char* op, int err) { return {op, err != 0 ? err : 5}; }

    bool ok() const { return error == 0; }
    explicit operator bool() const { return ok(); }
};

}  // namespace platform
