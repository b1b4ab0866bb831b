#pragma once

// Response frames of the Bluetooth NFC reader and the block data they carry:
//
//   0x02, length high, length low, address 0x00, command 0xB0 (or 0x72), status,
//   data..., CRC16 low, CRC16 high
//
// The length counts the whole frame; the CRC covers every byte before it. A read-blocks
// answer's data is DB-N, DB-SIZE, then per block a security status byte and the block's
// bytes last byte first.

#include "platform/bytes.h"

#include <cstdint>

namespace wynfc {

// A parsed response frame. The default (status 1, no data) stands for a missing or
// unusable answer.
struct ReaderResponseFrame {
    std::uint8_t startByte = 0;
    std::uint8_t lengthHigh = 0;
    std::uint8_t lengthLow = 0;
    std::uint8_t address = 0;
    std::uint8_t command = 0;
    std::uint8_t status = 1;
    Bytes data;                     // only when status is 0x00
    std::uint8_t crcFirstByte = 0;  // CRC low byte
    std::uint8_t crcSecondByte = 0; // CRC high byte
    int length = 0;                 // the length field
    int dataLength = 0;             // length - 8, only when status is 0x00

    bool isOk() const { return status == 0x00; }
};

// Does this notification open a frame: 0x02 at byte 0, address 0x00, command 0xB0 or 0x72?
bool isFrameStart(const Bytes& notification);

// True when the last two bytes are the CRC16 (low byte first) of everything before them.
bool frameComplete(const Bytes& frameBytes);

// Where the bytes of a frame being assembled stand against the length its header declares:
// short of it (more notifications belong to the frame, whatever they start with), complete
// (that length, ending in its CRC), or failed (more bytes than declared, or a CRC mismatch
// at that length).
enum class FrameProgress { Incomplete, Complete, Failed };
FrameProgress frameProgress(const Bytes& frameBytes);

// Fills the record from a received frame; false (record untouched) below 8 bytes. The data
// runs to the CRC of the bytes received, whatever the length field says.
bool parseResponseFrame(const Bytes& frameBytes, ReaderResponseFrame& frame);

// The area bytes of a read-blocks answer, each block in its natural order. Empty when the
// data is malformed: fewer blocks than DB-N says (logged), or no whole block.
Bytes extractBlockData(const Bytes& data);

// The reader's answers name no command (all say 0xB0), but each command's sound answer has a
// form of its own: a write's carries no data, an inventory's one 10-byte record per tag, a
// read's DB-N (the blocks asked for) and DB-SIZE with their records. False when the data (of
// an answer with status 0x00) has the form of another command's answer: an earlier
// command's, come late. Error answers, malformed ones, and commands outside the jobs' three
// are not judged.
bool canAnswer(const Bytes& requestFrame, const Bytes& data);

// Whether the sound answers of two request frames are alike enough to be taken one for the
// other: writes, reads of as many blocks. Inventories are not: any of their answers tells the
// same about the reader's field.
bool answersLookAlike(const Bytes& requestFrame, const Bytes& otherRequestFrame);

// Every whole group of 4 bytes with its bytes in reverse order; a shorter tail is dropped.
Bytes reverseBlockBytes(const Bytes& bytes);

// Logs one line per byte.
void dumpBytes(const Bytes& bytes);

} // namespace wynfc
