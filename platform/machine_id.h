// The identifier of this machine that the download engine reports as its user: a 16-byte
// digest of facts that stay put across runs and restarts (the installation's machine id,
// a network hardware address, the root disk's serial). A fact that cannot be read is left
// out, so the identifier only changes when the machine itself does.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace platform {

using MachineId = std::array<uint8_t, 16>;

// Reads the facts from the system's files under `root` ("" for the real root; tests give
// a folder of their own).
MachineId ComputeMachineId(const std::string& root = "");

// The identifier as four 32-bit words (little-endian, like the 16 bytes seen as four u32)
// in "%08X%08X%08X%08X": 32 upper-case hex digits.
std::string MachineIdText(const MachineId& id);

}  // namespace platform
