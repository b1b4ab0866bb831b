#include "platform/sim/feig_frame.h"

namespace wynfc::feig {

namespace {

void appendLength(Bytes& frame, std::size_t length) {
    frame.push_back(static_cast<std::uint8_t>(length >> 8));
    frame.push_back(static_cast<std::uint8_t>(length & 0xFF));
}

void appendCrc(Bytes& frame) {
    const std::uint16_t crc = crc16(frame);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

} // namespace

std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408U)
                                  : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

Bytes requestFrame(std::span<const std::uint8_t> hostCommand) {
    Bytes frame;
    frame.reserve(hostCommand.size() + kRequestOverhead); // also keeps GCC's -O3 overflow check quiet
    frame.push_back(kStartByte);
    appendLength(frame, hostCommand.size() + kRequestOverhead);
    frame.push_back(kBusAddress);
    frame.insert(frame.end(), hostCommand.begin(), hostCommand.end());
    appendCrc(frame);
    return frame;
}

Bytes responseFrame(std::uint8_t command, std::uint8_t status, std::span<const std::uint8_t> data) {
    Bytes frame{kStartByte};
    appendLength(frame, data.size() + kResponseOverhead);
    frame.push_back(kBusAddress);
    frame.push_back(command);
    frame.push_back(status);
    frame.insert(frame.end(), data.begin(), data.end());
    appendCrc(frame);
    return frame;
}

CheckedRequest checkRequestFrame(std::span<const std::uint8_t> frame) {
    // The smallest request carries a one-byte host command.
    if (frame.size() < kRequestOverhead + 1 || frame[0] != kStartByte) {
        return {kStatusLengthError, {}};
    }
    const std::size_t n = frame.size();
    const std::uint16_t crc = crc16(frame.first(n - 2));
    if (frame[n - 2] != (crc & 0xFF) || frame[n - 1] != (crc >> 8)) {
        return {kStatusCrcError, {}};
    }
    const std::size_t length = (std::size_t{frame[1]} << 8) | frame[2];
    if (length != n) {
        return {kStatusLengthError, {}};
    }
    return {kStatusOk, Bytes(frame.begin() + 4, frame.end() - 2)};
}

} // namespace wynfc::feig
