// The process-wide settings of the C interface, which every download takes as it starts.
#pragma once

#include <cstdint>
#include <string>

namespace tarn {

struct ProcessSettings {
    std::string userId;
    uint32_t ipcPort = 0;
    std::string lookupServer;
    uint32_t perSource = 0;
    uint32_t inAll = 0;
};
ProcessSettings CurrentSettings();

}  // namespace tarn
