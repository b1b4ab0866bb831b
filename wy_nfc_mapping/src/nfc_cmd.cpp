#include "nfc_cmd.h"

namespace wy_nfc_mapping {
namespace {

constexpr uint8_t kAddressedFlags = 0x20;
constexpr uint8_t kReadSingleBlock = 0x20;
constexpr uint8_t kWriteSingleBlock = 0x21;
constexpr uint8_t kReadMultipleBlocks = 0x23;
constexpr uint8_t kWriteMultipleBlocks = 0x24;
constexpr uint8_t kExtendedReadMultipleBlocks = 0x33;
constexpr uint8_t kExtendedWriteMultipleBlocks = 0x34;

constexpr uint8_t kReaderIsoHostCommand = 0xB0;
constexpr uint8_t kReaderMode = 0x00;
constexpr uint8_t kBlockSize = 0x04;

uint8_t low(int value) {
    return static_cast<uint8_t>(value & 0xFF);
}
uint8_t high(int value) {
    return static_cast<uint8_t>((value >> 8) & 0xFF);
}

void startIso(Bytes& out, uint8_t command, NfcCommand::Uid uid) {
    out.assign({kAddressedFlags, command});
    out.insert(out.end(), uid.begin(), uid.end());
}

// The reader's host command carries the block and the block count (not count - 1).
void readerCommand(Bytes& out, uint8_t command, int first, int count) {
    out.assign({kReaderIsoHostCommand, command, kReaderMode, low(first), low(count)});
}

} // namespace

void NfcCommand::readSingleBlockCmd(Uid uid, int block, Bytes& out, bool isBle) {
    if (isBle) {
        readerCommand(out, kReadMultipleBlocks, block, 1);
        return;
    }
    startIso(out, kReadSingleBlock, uid);
    out.push_back(low(block));
}

void NfcCommand::readMultiBlocksCmd(Uid uid, int first, int count, Bytes& out, bool isBle) {
    if (isBle) {
        readerCommand(out, kReadMultipleBlocks, first, count);
        return;
    }
    startIso(out, kReadMultipleBlocks, uid);
    out.push_back(low(first));
    out.push_back(low(count - 1));
}

void NfcCommand::readMultiExtendBlockCmd(Uid uid, int first, int count, Bytes& out, bool isBle) {
    if (isBle) {
        readerCommand(out, kReadMultipleBlocks, first, count);
        return;
    }
    startIso(out, kExtendedReadMultipleBlocks, uid);
    out.insert(out.end(), {low(first), high(first), low(count - 1), high(count - 1)});
}

void NfcCommand::writeSingleBlockCmd(Uid uid, int block, std::span<const uint8_t> data, Bytes& out,
                                     bool isBle) {
    const auto blockData = data.first(4);
    if (isBle) {
        readerCommand(out, kWriteMultipleBlocks, block, 1);
        out.push_back(kBlockSize);
    } else {
        startIso(out, kWriteSingleBlock, uid);
        out.push_back(low(block));
    }
    out.insert(out.end(), blockData.begin(), blockData.end());
}

void NfcCommand::writeMultiExtendBlockCmd(Uid uid, int first, int count, std::span<const uint8_t> data,
                                          Bytes& out, bool isBle) {
    if (isBle) {
        readerCommand(out, kWriteMultipleBlocks, first, count);
        out.push_back(kBlockSize);
    } else {
        startIso(out, kExtendedWriteMultipleBlocks, uid);
        out.insert(out.end(), {low(first), high(first), low(count - 1), high(count - 1)});
    }
    out.insert(out.end(), data.begin(), data.end());
}

} // namespace wy_nfc_mapping
