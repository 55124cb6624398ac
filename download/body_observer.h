// Lets a caller see the bytes of a download as they are written, so that work on the
// content (a digest) needs no second read of the file.
#pragma once

#include <cstddef>

// Called on the download's own thread, never at the same time for one download.
class IBodyObserver {
  public:
    virtual ~IBodyObserver() = default;
    // The body starts (again) from its first byte: forget what was seen before.
    virtual void OnBodyStart() = 0;
    // The next bytes of the body, just written to the file at the offset that follows the
    // bytes seen since the last start.
    virtual void OnBodyData(const char* data, size_t size) = 0;
};
