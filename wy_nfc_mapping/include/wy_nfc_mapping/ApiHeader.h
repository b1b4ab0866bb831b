#pragma once

#include "wy_nfc_mapping/export.h"

#include <optional>
#include <string>
#include <vector>

// The library's C++ front end. It holds no state; every call goes to the library's
// one instance.
//
// Value conventions:
//  - byte arrays in: each int's low 8 bits are the byte (200 and -56 both give 0xC8);
//  - byte arrays out: each byte as a signed value, -128..127;
//  - a UID array shorter than 8 reads its missing bytes as 0;
//  - an empty optional stands for a failure (unknown area, invalid input, a command
//    that could not be built), which the library also logs.
class WY_NFC_EXPORT ApiHeader {
public:
    void sayHello();
    std::string getVersion();
    void destroy();
    bool loadAddressMapFile(const std::string& json);
    std::optional<std::string> getJsonValuesFromDataByName(const std::string& name,
                                                           const std::vector<int>& dataBytes);
    std::optional<std::string> getNFCProductPropertiesJsonByName(const std::string& name);
    std::optional<std::vector<int>> getNFCReadMemoryDataByNameCmd(const std::string& name,
                                                                  const std::vector<int>& tagUid, bool isBle);
    std::optional<std::vector<int>> getNFCWriteMemoryDataByNameCmd(const std::string& name,
                                                                   const std::vector<int>& tagUid, int idx,
                                                                   const std::vector<int>& data, bool isBle);
    std::optional<std::vector<int>> updateValuesFromOldDataByName(const std::string& name,
                                                                  const std::string& json,
                                                                  const std::vector<int>& oldData,
                                                                  bool fillPadByte, bool fillReserveByte);
    std::vector<int> getCalcCRC16Result(const std::vector<int>& bytes); // {CRC high byte, CRC low byte}
    std::optional<std::vector<int>> getBLECmd(const std::vector<int>& cmd);
};
