// One-time process set-up of the HTTP library.
#pragma once

namespace platform {

// Initialises libcurl once per process, from whichever thread comes first; later calls
// return at once. Thread-safe.
void EnsureHttpGlobalInit();

}  // namespace platform
