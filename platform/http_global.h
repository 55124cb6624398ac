// One-time process set-up of the HTTP library.
#pragma once

namespace platform {

// Initialises libcurl once per process, from whichever thread comes first; later calls
// return at once with the first call's verdict. False when libcurl could not start.
// Thread-safe.
bool EnsureHttpGlobalInit();

}  // namespace platform
