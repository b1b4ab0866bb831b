#include "readers/ble_reader_blocks.h"

#include "readers/ble_reader.h"
#include "readers/reader_contract.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stdexcept>

namespace wynfc {
namespace {

constexpr std::uint8_t kFrameStart = 0x02;
constexpr std::uint8_t kStatusNoTag = 0x01; // no tag in the field, or it did not answer
constexpr int kTagBlocks = 256;             // the reader addresses blocks with one byte
constexpr std::size_t kBlockSize = 4;

// The tag error an answer stands for, or nullopt for success.
std::optional<NfcError> errorOf(const ReaderResponseFrame& answer) {
    if (answer.startByte != kFrameStart) {
        return NfcError{NfcError::kSessionTerminatedUnexpectedly, "The Bluetooth reader did not answer"};
    }
    if (answer.isOk()) {
        return std::nullopt;
    }
    if (answer.status == kStatusNoTag) {
        return NfcError::connectionLost();
    }
    char status[8];
    std::snprintf(status, sizeof status, "0x%02X", answer.status);
    return NfcError{NfcError::kTagResponseError,
                    std::string("Tag response error (reader status ") + status + ")"};
}

std::string seconds(Millis duration) {
    const auto tenths = (duration.count() + 50) / 100;
    return std::to_string(tenths / 10) + (tenths % 10 != 0 ? "." + std::to_string(tenths % 10) : "") + " s";
}

// The UID of the first record of an inventory's data: count, then per tag its transponder type,
// DSFID and 8-byte UID.
Bytes firstUid(const Bytes& inventory) {
    if (inventory.size() < 11 || inventory[0] == 0) {
        return {};
    }
    return Bytes(inventory.begin() + 3, inventory.begin() + 11);
}

} // namespace

BleReaderBlocks::BleReaderBlocks(BleReader& reader, Timing timing) : mReader(reader) {
    // The reader only answers questions: ask again each scan-loop period, as the work page does.
    std::mutex mutex;
    std::condition_variable never;
    const auto deadline = std::chrono::steady_clock::now() + timing.tagPresentLimit;
    while (true) {
        const ResultObj found = mReader.readByName(kScanNfc);
        if (found.isOk()) {
            mUid = firstUid(mReader.tagId());
            if (mUid.size() != 8) {
                throw std::runtime_error("the Bluetooth NFC reader's inventory answer holds no UID");
            }
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            throw std::runtime_error("no tag was presented to the Bluetooth NFC reader within " +
                                     seconds(timing.tagPresentLimit));
        }
        std::unique_lock lock(mutex);
        never.wait_until(lock, std::min(deadline, now + timing.scanLoopPeriod), [] { return false; });
    }
}

std::optional<int> BleReaderBlocks::blockCount() {
    const ReaderResponseFrame answer = mReader.systemInformation();
    // DSFID, UID (8), AFI, memory size (number of blocks - 1, block size - 1), IC reference.
    const Bytes& info = answer.data;
    if (errorOf(answer) || info.size() != 13 || (info[11] & 0x1F) + 1 != static_cast<int>(kBlockSize)) {
        return std::nullopt;
    }
    return info[10] + 1;
}

BlockAccess::BlockRead BleReaderBlocks::readBlock(int block) {
    if (block >= mKeptFirst && block < mKeptFirst + static_cast<int>(mKept.size())) {
        return {mKept[static_cast<std::size_t>(block - mKeptFirst)], std::nullopt};
    }
    mKept.clear();
    if (block < 0 || block >= kTagBlocks) {
        return {{}, NfcError{NfcError::kInvalidParameter, "Invalid block number"}};
    }
    int count = std::min(kBlocksPerRead, kTagBlocks - block);
    ReaderResponseFrame answer = mReader.readBlocks(block, count);
    std::optional<NfcError> error = errorOf(answer);
    if (error && error->code == NfcError::kTagResponseError && count > 1) {
        // One of the blocks may lie beyond the tag's memory: ask for this one alone.
        count = 1;
        answer = mReader.readBlocks(block, count);
        error = errorOf(answer);
    }
    if (error) {
        return {{}, error};
    }
    const Bytes bytes = extractBlockData(answer.data);
    if (bytes.size() != static_cast<std::size_t>(count) * kBlockSize) {
        return {{}, NfcError{NfcError::kTagResponseError, "The reader's answer holds no whole blocks"}};
    }
    for (int i = 0; i < count; ++i) {
        const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(i * kBlockSize);
        mKept.emplace_back(first, first + static_cast<std::ptrdiff_t>(kBlockSize));
    }
    mKeptFirst = block;
    return {mKept.front(), std::nullopt};
}

std::optional<NfcError> BleReaderBlocks::writeBlock(int block, const Bytes& bytes) {
    mKept.clear();
    if (block < 0 || block >= kTagBlocks || bytes.size() != kBlockSize) {
        return NfcError{NfcError::kInvalidParameter, "Invalid block number or size"};
    }
    return errorOf(mReader.writeBlock(block, bytes));
}

void BleReaderBlocks::finish(const std::string& /*message*/, bool /*success*/) {
    mKept.clear(); // the Bluetooth reader shows nothing of its own
}

} // namespace wynfc
