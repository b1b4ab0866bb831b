#pragma once

// Frames of the Bluetooth NFC reader's host protocol, as the simulated reader sees them.
// Written from the reader's documented contract, independently of the mapping library, so
// that a fault in one cannot hide behind the same fault in the other.
//
//   request:  0x02, length high, length low, address 0x00, host command..., CRC low, CRC high
//   response: 0x02, length high, length low, address 0x00, command, status, data..., CRC low, CRC high
//
// The length counts the whole frame; the CRC covers every byte before it.

#include "platform/bytes.h"

#include <cstdint>
#include <span>

namespace wynfc::feig {

inline constexpr std::uint8_t kStartByte = 0x02;
inline constexpr std::uint8_t kBusAddress = 0x00;
inline constexpr std::uint8_t kIsoHostCommand = 0xB0; // ISO 15693 commands through the reader

// The ISO 15693 commands the reader carries out (second byte of the host command).
inline constexpr std::uint8_t kInventory = 0x01;
inline constexpr std::uint8_t kReadMultipleBlocks = 0x23;
inline constexpr std::uint8_t kWriteMultipleBlocks = 0x24;
// Answered with DSFID, UID, AFI, memory size (number of blocks - 1, block size - 1), IC reference.
inline constexpr std::uint8_t kGetSystemInformation = 0x2B;
inline constexpr std::uint8_t kModeNonAddressed = 0x00;

inline constexpr std::uint8_t kTransponderIso15693 = 0x03; // transponder type in an inventory record
inline constexpr std::uint8_t kBlockSize = 4;

// Statuses of the simulated reader's answers; only kStatusOk means success.
inline constexpr std::uint8_t kStatusOk = 0x00;
inline constexpr std::uint8_t kStatusNoTag = 0x01;           // no tag in the field, or it did not answer
inline constexpr std::uint8_t kStatusTagError = 0x02;        // the tag failed the operation
inline constexpr std::uint8_t kStatusBlockProtected = 0x03;  // a write touched a protected block
inline constexpr std::uint8_t kStatusBlockOutOfRange = 0x04; // beyond the tag's memory
inline constexpr std::uint8_t kStatusUnknownCommand = 0x80;  // command, ISO command or mode not known
inline constexpr std::uint8_t kStatusLengthError = 0x81;     // the frame or its fields do not fit together
inline constexpr std::uint8_t kStatusCrcError = 0x82;        // the request's CRC does not match

inline constexpr std::size_t kRequestOverhead = 6;  // start, length, address, CRC
inline constexpr std::size_t kResponseOverhead = 8; // the same, plus command and status

// CRC-16/MCRF4XX: polynomial 0x1021 bit-reflected (0x8408), initial 0xFFFF, no final XOR.
std::uint16_t crc16(std::span<const std::uint8_t> bytes);

// A complete request frame around the host command.
Bytes requestFrame(std::span<const std::uint8_t> hostCommand);

// A complete response frame.
Bytes responseFrame(std::uint8_t command, std::uint8_t status, std::span<const std::uint8_t> data);

// What a received request frame holds, once checked.
struct CheckedRequest {
    std::uint8_t status = kStatusOk; // kStatusOk when the frame is sound
    Bytes hostCommand;               // the bytes between address and CRC, when sound
};

// Checks start byte, CRC and length field, in that order of blame.
CheckedRequest checkRequestFrame(std::span<const std::uint8_t> frame);

} // namespace wynfc::feig
