#pragma once

#include "log.h"
#include "nfc_data.h"
#include "records.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace wy_nfc_mapping {

using ByteSpan = std::span<const uint8_t>;
using Uid = std::span<const uint8_t, 8>;

// The library's one process-wide object. It takes no locks: callers use it from one
// thread at a time. Results are 0 for success and 1 for failure; byte results go to
// `out`, which a failing command builder leaves as the single byte 0x00.
class WyNfcAPI {
public:
    static constexpr const char* kVersion = "CORE_1.1.0";

    static WyNfcAPI* getInstance();

    // Frees the map and the instance; the next getInstance builds a fresh one.
    void destroy();

    std::string getVersion() const { return kVersion; }
    int loadAddressMapFile(const std::string& json);

    // Command frames (ISO 15693 form, or the reader's host command when isBle).
    int getNFCReadMemoryCmd(Uid uid, int first, int count, Bytes& out, bool isBle);
    int getNFCWriteMemoryCmd(Uid uid, int first, int count, ByteSpan data, Bytes& out, bool isBle);
    int getNFCReadMemoryDataByNameCmd(const std::string& name, Uid uid, Bytes& out, bool isBle);
    int getNFCWriteMemoryDataByNameCmd(const std::string& name, Uid uid, int index, ByteSpan data, Bytes& out,
                                       bool isBle);

    // Reader frame and its CRC16 (CRC high byte first in `out`).
    int getBLECmd(ByteSpan command, Bytes& out);
    int getCalcCRC16Result(ByteSpan bytes, Bytes& out);

    // Values of an area as JSON, decoded from its bytes.
    std::optional<std::string> getJsonValuesFromDataByName(const std::string& name, ByteSpan data);

    // Merges JSON values into `out`, which holds the area's old bytes on entry. On failure
    // `out` is left exactly as it was.
    int updateValuesFromOldDataByName(const std::string& name, const std::string& json, Bytes& out,
                                      bool fillPadByte, bool fillReserveByte);

    // Description of an area: byte count, name, block count, start address, version.
    std::optional<std::string> getNFCProductPropertiesJsonByName(const std::string& name);

private:
    WyNfcAPI() = default;

    // The area of that name; logs "NOT Found Address mapping" for the caller when there is none.
    const DataObj* findArea(const std::string& name, const SourcePlace& caller) const;

    static std::atomic<WyNfcAPI*> mInstance;
    std::unique_ptr<NfcData> mNfcData;
};

// CRC-16/MCRF4XX, bit by bit: 0xFFFF for no bytes.
uint16_t crc16Mcrf4xx(ByteSpan bytes);

// "0x01,0xAB," for bytes 01 AB; "" for none.
std::string dump(ByteSpan bytes);

// Pieces between delimiters; a delimiter at the very end yields no empty last piece.
std::vector<std::string> split(const std::string& text, char delimiter);

} // namespace wy_nfc_mapping
