// The C++ front end: converts number arrays and strings to and from the facade's bytes.

#include "wy_nfc_api.h"
#include "wy_nfc_mapping/ApiHeader.h"

#include <iostream>

using wy_nfc_mapping::Bytes;
using wy_nfc_mapping::WyNfcAPI;

namespace {

// Each number's low 8 bits are the byte.
Bytes bytesOf(const std::vector<int>& numbers) {
    Bytes bytes;
    bytes.reserve(numbers.size());
    for (const int number : numbers) {
        bytes.push_back(static_cast<uint8_t>(number & 0xFF));
    }
    return bytes;
}

// Exactly 8 UID bytes; missing ones read as 0.
std::array<uint8_t, 8> uidOf(const std::vector<int>& numbers) {
    std::array<uint8_t, 8> uid{};
    for (size_t i = 0; i < uid.size() && i < numbers.size(); ++i) {
        uid[i] = static_cast<uint8_t>(numbers[i] & 0xFF);
    }
    return uid;
}

// Each byte as a signed value, -128..127.
std::vector<int> numbersOf(const Bytes& bytes) {
    std::vector<int> numbers;
    numbers.reserve(bytes.size());
    for (const uint8_t byte : bytes) {
        numbers.push_back(static_cast<int8_t>(byte));
    }
    return numbers;
}

std::optional<std::vector<int>> numbersOnSuccess(int rc, const Bytes& bytes) {
    if (rc != 0) {
        return std::nullopt;
    }
    return numbersOf(bytes);
}

WyNfcAPI& api() {
    return *WyNfcAPI::getInstance();
}

} // namespace

void ApiHeader::sayHello() {
    std::cerr << "Hello WY_NFC_MULTI!" << std::endl;
    WyNfcAPI::getInstance();
}

std::string ApiHeader::getVersion() {
    return WyNfcAPI::kVersion;
}

void ApiHeader::destroy() {
    api().destroy();
}

bool ApiHeader::loadAddressMapFile(const std::string& json) {
    return api().loadAddressMapFile(json) == 0;
}

std::optional<std::string> ApiHeader::getJsonValuesFromDataByName(const std::string& name,
                                                                  const std::vector<int>& dataBytes) {
    return api().getJsonValuesFromDataByName(name, bytesOf(dataBytes));
}

std::optional<std::string> ApiHeader::getNFCProductPropertiesJsonByName(const std::string& name) {
    return api().getNFCProductPropertiesJsonByName(name);
}

std::optional<std::vector<int>> ApiHeader::getNFCReadMemoryDataByNameCmd(const std::string& name,
                                                                         const std::vector<int>& tagUid,
                                                                         bool isBle) {
    Bytes command;
    const int rc = api().getNFCReadMemoryDataByNameCmd(name, uidOf(tagUid), command, isBle);
    return numbersOnSuccess(rc, command);
}

std::optional<std::vector<int>>
ApiHeader::getNFCWriteMemoryDataByNameCmd(const std::string& name, const std::vector<int>& tagUid, int idx,
                                          const std::vector<int>& data, bool isBle) {
    Bytes command;
    const int rc =
        api().getNFCWriteMemoryDataByNameCmd(name, uidOf(tagUid), idx, bytesOf(data), command, isBle);
    return numbersOnSuccess(rc, command);
}

std::optional<std::vector<int>> ApiHeader::updateValuesFromOldDataByName(const std::string& name,
                                                                         const std::string& json,
                                                                         const std::vector<int>& oldData,
                                                                         bool fillPadByte,
                                                                         bool fillReserveByte) {
    Bytes bytes = bytesOf(oldData);
    const int rc = api().updateValuesFromOldDataByName(name, json, bytes, fillPadByte, fillReserveByte);
    return numbersOnSuccess(rc, bytes);
}

std::vector<int> ApiHeader::getCalcCRC16Result(const std::vector<int>& bytes) {
    Bytes crc;
    api().getCalcCRC16Result(bytesOf(bytes), crc);
    return numbersOf(crc);
}

std::optional<std::vector<int>> ApiHeader::getBLECmd(const std::vector<int>& cmd) {
    Bytes frame;
    const int rc = api().getBLECmd(bytesOf(cmd), frame);
    return numbersOnSuccess(rc, frame);
}
