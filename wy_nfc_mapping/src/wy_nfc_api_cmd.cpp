// Read and write commands of the facade, and the Bluetooth reader's request frame.

#include "log.h"
#include "nfc_cmd.h"
#include "wy_nfc_api.h"

namespace wy_nfc_mapping {
namespace {

constexpr int kOneByteLimit = 256;         // block numbers and counts of the reader form
constexpr size_t kMaxFrameLength = 0xFFFF; // the request frame's two length bytes

constexpr uint8_t kFrameStart = 0x02;
constexpr uint8_t kBusAddress = 0x00;
constexpr size_t kFrameOverhead = 6; // start, two length bytes, address, two CRC bytes

int fail(Bytes& out) {
    out.assign({0x00});
    return 1;
}

} // namespace

uint16_t crc16Mcrf4xx(ByteSpan bytes) {
    uint16_t crc = 0xFFFF;
    for (const uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0x8408U)
                                  : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

int WyNfcAPI::getNFCReadMemoryCmd(Uid uid, int first, int count, Bytes& out, bool isBle) {
    if (first < 0 || count < 1 || count > 0x10000 || first >= 0x10000) {
        WY_LOG_ERROR("Cannot read %d blocks from block %d.\n%s", count, first);
        return fail(out);
    }
    if (isBle && (first >= kOneByteLimit || count >= kOneByteLimit)) {
        WY_LOG_ERROR("Block %d or count %d does not fit the reader command's one-byte fields.\n%s", first,
                     count);
        return fail(out);
    }
    if (first >= kOneByteLimit || count >= kOneByteLimit) {
        NfcCommand::readMultiExtendBlockCmd(uid, first, count, out, isBle);
    } else {
        NfcCommand::readMultiBlocksCmd(uid, first, count, out, isBle);
    }
    return 0;
}

int WyNfcAPI::getNFCWriteMemoryCmd(Uid uid, int first, int count, ByteSpan data, Bytes& out, bool isBle) {
    if (first < 0 || count < 1 || count > 0x10000 || first >= 0x10000 ||
        data.size() < static_cast<size_t>(count) * NfcData::kBlockSize) {
        WY_LOG_ERROR("Cannot write %d blocks from block %d with %zu data bytes.\n%s", count, first,
                     data.size());
        return fail(out);
    }
    if (isBle && (first >= kOneByteLimit || count >= kOneByteLimit)) {
        WY_LOG_ERROR("Block %d or count %d does not fit the reader command's one-byte fields.\n%s", first,
                     count);
        return fail(out);
    }
    // Only whole blocks are written: a tail shorter than a block would make the frame's
    // data disagree with its block count.
    const ByteSpan blocks = data.first(static_cast<size_t>(count) * NfcData::kBlockSize);
    if (first >= kOneByteLimit || count != 1) {
        NfcCommand::writeMultiExtendBlockCmd(uid, first, count, blocks, out, isBle);
    } else {
        NfcCommand::writeSingleBlockCmd(uid, first, blocks, out, isBle);
    }
    return 0;
}

int WyNfcAPI::getNFCReadMemoryDataByNameCmd(const std::string& name, Uid uid, Bytes& out, bool isBle) {
    const DataObj* area = findArea(name, WY_HERE);
    if (area == nullptr) {
        return fail(out);
    }
    return getNFCReadMemoryCmd(uid, NfcData::normalizeAddressToBlockNum(area->startAddress),
                               NfcData::normalizeByteCountToBlockCount(area->byteCount), out, isBle);
}

int WyNfcAPI::getNFCWriteMemoryDataByNameCmd(const std::string& name, Uid uid, int index, ByteSpan data,
                                             Bytes& out, bool isBle) {
    const DataObj* area = findArea(name, WY_HERE);
    if (area == nullptr) {
        return fail(out);
    }
    const int fullBlockCount = NfcData::normalizeByteCountToBlockCount(area->byteCount);
    if (index < 0 || index >= fullBlockCount) {
        WY_LOG_ERROR("%s ,writeBlockBeginIndex(%d) is larger than (fullBlockCount - 1::%d).\n%s",
                     name.c_str(), index, fullBlockCount - 1);
        return fail(out);
    }
    const auto blocks = static_cast<int>(data.size() / NfcData::kBlockSize);
    if (blocks > fullBlockCount - index) {
        WY_LOG_ERROR("%s ,dataLen is too large.\n%s", name.c_str());
        return fail(out);
    }
    if (blocks < 1) {
        WY_LOG_ERROR("%s ,dataLen(%zu) is less than one block.\n%s", name.c_str(), data.size());
        return fail(out);
    }
    return getNFCWriteMemoryCmd(uid, NfcData::normalizeAddressToBlockNum(area->startAddress) + index, blocks,
                                data, out, isBle);
}

int WyNfcAPI::getBLECmd(ByteSpan command, Bytes& out) {
    const size_t length = command.size() + kFrameOverhead;
    if (length > kMaxFrameLength) {
        WY_LOG_ERROR("A command of %zu bytes does not fit the reader frame.\n%s", command.size());
        return fail(out);
    }
    out.assign(
        {kFrameStart, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 0xFF), kBusAddress});
    out.insert(out.end(), command.begin(), command.end());
    const uint16_t crc = crc16Mcrf4xx(out);
    out.push_back(static_cast<uint8_t>(crc & 0xFF));
    out.push_back(static_cast<uint8_t>(crc >> 8));
    return 0;
}

int WyNfcAPI::getCalcCRC16Result(ByteSpan bytes, Bytes& out) {
    const uint16_t crc = crc16Mcrf4xx(bytes);
    out.assign({static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc & 0xFF)});
    return 0;
}

} // namespace wy_nfc_mapping
