#pragma once

// The requests of fuzz_ble_notifications' exchanges, and of the recorded answers that seed
// it: the jobs' commands (inventory, reads, a block write) and the service commands' (Get
// System Information, a read beyond the tag). An exchange's marker names one by its index.

#include "platform/bytes.h"

#include <array>

namespace wynfc::fuzz {

inline const std::array<Bytes, 6> kHostCommands = {
    Bytes{0xB0, 0x01, 0x00},                                           // inventory
    Bytes{0xB0, 0x23, 0x00, 0x04, 0x08},                               // read 8 blocks from 4
    Bytes{0xB0, 0x23, 0x00, 0x40, 0x20},                               // read an area: 32 blocks
    Bytes{0xB0, 0x24, 0x00, 0x05, 0x01, 0x04, 0x44, 0x33, 0x22, 0x11}, // write block 5
    Bytes{0xB0, 0x2B, 0x00},                                           // Get System Information
    Bytes{0xB0, 0x23, 0x00, 0xFC, 0x08},                               // read beyond a 256-block tag
};

} // namespace wynfc::fuzz
