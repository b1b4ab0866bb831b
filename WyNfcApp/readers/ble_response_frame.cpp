#include "readers/ble_response_frame.h"

#include "platform/console_log.h"
#include "readers/ble_reader.h"
#include "readers/shared_api.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace wynfc {
namespace {

constexpr std::uint8_t kFrameStart = 0x02;
constexpr std::uint8_t kBusAddress = 0x00;
constexpr std::uint8_t kIsoHostCommand = 0xB0;
constexpr std::uint8_t kAlsoAcceptedCommand = 0x72;
constexpr std::size_t kHeaderSize = 6; // start, length, address, command, status
constexpr std::size_t kCrcSize = 2;
constexpr std::size_t kBlockSize = 4;

void log(const std::string& text) {
    logLine(BleReader::TAG, text);
}

constexpr std::uint8_t kInventory = 0x01;
constexpr std::uint8_t kReadMultipleBlocks = 0x23;
constexpr std::uint8_t kWriteMultipleBlocks = 0x24;
constexpr std::size_t kInventoryRecord = 10; // transponder type, DSFID, UID

// The host command a request frame carries (start, length and address before it, the CRC
// after it); empty for anything shorter than a frame.
Bytes hostCommandOf(const Bytes& requestFrame) {
    constexpr std::size_t kBefore = 4;
    if (requestFrame.size() < kBefore + 2 + kCrcSize || requestFrame[0] != kFrameStart) {
        return {};
    }
    return Bytes(requestFrame.begin() + kBefore, requestFrame.end() - kCrcSize);
}

bool inventoryShaped(const Bytes& data) {
    return !data.empty() && data[0] >= 1 && data.size() == 1 + kInventoryRecord * data[0];
}

bool blocksShaped(const Bytes& data) {
    return data.size() >= 2 && data[0] >= 1 && data.size() == 2 + std::size_t{data[0]} * (1 + data[1]);
}

} // namespace

bool canAnswer(const Bytes& requestFrame, const Bytes& data) {
    const Bytes host = hostCommandOf(requestFrame);
    if (host.size() < 2 || host[0] != kIsoHostCommand) {
        return true;
    }
    switch (host[1]) {
    case kInventory:
        return !data.empty() && (inventoryShaped(data) || !blocksShaped(data));
    case kReadMultipleBlocks:
        if (data.empty()) {
            return false;
        }
        if (blocksShaped(data)) { // whole records: this read's, or another read's for other blocks
            return host.size() >= 5 && data[0] == host[4];
        }
        return !inventoryShaped(data);
    case kWriteMultipleBlocks:
        return data.empty();
    default:
        return true;
    }
}

bool answersLookAlike(const Bytes& requestFrame, const Bytes& otherRequestFrame) {
    const Bytes one = hostCommandOf(requestFrame);
    const Bytes other = hostCommandOf(otherRequestFrame);
    if (one.size() < 2 || other.size() < 2 || one[0] != other[0] || one[1] != other[1]) {
        return false;
    }
    switch (one[1]) {
    case kInventory:
        return false;
    case kReadMultipleBlocks:
        return one.size() >= 5 && other.size() >= 5 && one[4] == other[4];
    default:
        return true;
    }
}

bool isFrameStart(const Bytes& notification) {
    return notification.size() >= kHeaderSize && notification[0] == kFrameStart &&
           notification[3] == kBusAddress &&
           (notification[4] == kIsoHostCommand || notification[4] == kAlsoAcceptedCommand);
}

bool frameComplete(const Bytes& frameBytes) {
    const std::size_t count = frameBytes.size();
    if (count < kCrcSize) {
        return false;
    }
    const std::vector<int> body(frameBytes.begin(), frameBytes.end() - kCrcSize);
    const Bytes crc = bytesFromNumbers(sharedApi().getCalcCRC16Result(body)); // high byte first
    return crc.size() == 2 && frameBytes[count - 2] == crc[1] && frameBytes[count - 1] == crc[0];
}

FrameProgress frameProgress(const Bytes& frameBytes) {
    if (frameBytes.size() < 3) {
        return FrameProgress::Incomplete; // the length field is still to come
    }
    const std::size_t declared = (std::size_t{frameBytes[1]} << 8) | frameBytes[2];
    if (frameBytes.size() < declared) {
        return FrameProgress::Incomplete;
    }
    if (frameBytes.size() == declared && declared >= kHeaderSize + kCrcSize && frameComplete(frameBytes)) {
        return FrameProgress::Complete;
    }
    return FrameProgress::Failed;
}

bool parseResponseFrame(const Bytes& frameBytes, ReaderResponseFrame& frame) {
    const std::size_t count = frameBytes.size();
    if (count < kHeaderSize + kCrcSize) {
        return false;
    }
    frame.startByte = frameBytes[0];
    frame.lengthHigh = frameBytes[1];
    frame.lengthLow = frameBytes[2];
    frame.address = frameBytes[3];
    frame.command = frameBytes[4];
    frame.status = frameBytes[5];
    frame.length = (frame.lengthHigh << 8) | frame.lengthLow;
    if (frame.status == 0x00) {
        frame.dataLength = frame.length - static_cast<int>(kHeaderSize + kCrcSize);
        frame.data.assign(frameBytes.begin() + kHeaderSize, frameBytes.end() - kCrcSize);
    }
    frame.crcFirstByte = frameBytes[count - 2];
    frame.crcSecondByte = frameBytes[count - 1];
    return true;
}

Bytes extractBlockData(const Bytes& data) {
    if (data.size() < 2) {
        return {}; // not even DB-N and DB-SIZE
    }
    const std::size_t declaredBlocks = data[0];
    const std::size_t blockSize = data[1];
    const std::size_t recordLength = blockSize + 1; // security status, then the block
    const std::size_t payload = data.size() - 2;
    const std::size_t blocksFound = payload / recordLength;
    if (blocksFound != declaredBlocks) {
        dumpBytes(data);
        log("DB-N is not equal to blockCount!! " + std::to_string(declaredBlocks) + " " +
            std::to_string(blocksFound));
        return {};
    }
    if (payload <= blockSize) {
        return {};
    }
    Bytes area;
    area.reserve(blocksFound * blockSize);
    for (std::size_t block = 0; block < blocksFound; ++block) {
        const auto record = data.begin() + static_cast<std::ptrdiff_t>(2 + block * recordLength);
        // The record reversed starts with the block's first byte and ends with the status.
        std::reverse_copy(record + 1, record + static_cast<std::ptrdiff_t>(recordLength),
                          std::back_inserter(area));
    }
    return area;
}

Bytes reverseBlockBytes(const Bytes& bytes) {
    Bytes reversed;
    const std::size_t whole = bytes.size() / kBlockSize * kBlockSize;
    reversed.reserve(whole);
    for (std::size_t start = 0; start < whole; start += kBlockSize) {
        const auto block = bytes.begin() + static_cast<std::ptrdiff_t>(start);
        std::reverse_copy(block, block + kBlockSize, std::back_inserter(reversed));
    }
    return reversed;
}

void dumpBytes(const Bytes& bytes) {
    char line[48];
    for (const std::uint8_t byte : bytes) {
        const int size = std::snprintf(line, sizeof line, "byte: 0x%02x int: %d ASCII %c", byte, byte, byte);
        log(std::string(line,
                        static_cast<std::size_t>(std::clamp(size, 0, static_cast<int>(sizeof line) - 1))));
    }
}

} // namespace wynfc
