#pragma once

#include "records.h"

#include <cstdint>
#include <span>

namespace wy_nfc_mapping {

// Builders of the commands that read or write tag blocks, in one of two forms:
//  - ISO 15693 request frames in addressed mode (flags 0x20, command, UID, block fields
//    least significant byte first);
//  - with isBle, the Bluetooth reader's ISO 15693 host command (0xB0, the ISO command,
//    mode 0x00, then one byte each for block and count), to be wrapped into the
//    reader's request frame.
// Each builder replaces `out` with the command bytes.
class NfcCommand {
public:
    using Uid = std::span<const uint8_t, 8>;

    static void readSingleBlockCmd(Uid uid, int block, Bytes& out, bool isBle);
    static void readMultiBlocksCmd(Uid uid, int first, int count, Bytes& out, bool isBle);
    static void readMultiExtendBlockCmd(Uid uid, int first, int count, Bytes& out, bool isBle);
    // Writes the first 4 bytes of `data` (which holds at least 4).
    static void writeSingleBlockCmd(Uid uid, int block, std::span<const uint8_t> data, Bytes& out,
                                    bool isBle);
    static void writeMultiExtendBlockCmd(Uid uid, int first, int count, std::span<const uint8_t> data,
                                         Bytes& out, bool isBle);
};

} // namespace wy_nfc_mapping
