// The exported plain functions. Byte results go to caller buffers of 512 bytes, the
// working limit of this interface: longer inputs or results are refused, never written.

#include "log.h"
#include "wy_nfc_api.h"
#include "wy_nfc_mapping/wy_nfc_mapping.h"

#include <cstdlib>
#include <cstring>
#include <string>

using wy_nfc_mapping::Bytes;
using wy_nfc_mapping::ByteSpan;
using wy_nfc_mapping::WyNfcAPI;

extern "C" {

const double wy_nfc_mappingVersionNumber = 1.0;
const unsigned char wy_nfc_mappingVersionString[] = "@(#)PROGRAM:wy_nfc_mapping  PROJECT:wy_nfc_mapping-1\n";

} // extern "C"

namespace {

constexpr int kWorkingLimit = 512;

char* heapCopy(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}

char* heapCopy(const std::optional<std::string>& text) {
    return text ? heapCopy(*text) : nullptr;
}

std::string nameOf(const char* name) {
    return name != nullptr ? name : "";
}

// Input bytes within the working limit; logs and gives nothing otherwise.
std::optional<ByteSpan> inputBytes(const unsigned char* bytes, int len, const char* function) {
    if (len < 0 || len > kWorkingLimit || (bytes == nullptr && len > 0)) {
        WY_LOG_ERROR("%s: %d input bytes are outside 0 to %d.\n%s", function, len, kWorkingLimit);
        return std::nullopt;
    }
    return ByteSpan(bytes, static_cast<size_t>(len));
}

// Copies a command to the caller; a result beyond the working limit becomes the
// one-byte failure output.
int copyOut(const Bytes& result, int rc, unsigned char* out, int* outLen, const char* function) {
    if (out == nullptr || outLen == nullptr) {
        return 1;
    }
    if (result.size() > static_cast<size_t>(kWorkingLimit)) {
        WY_LOG_ERROR("%s: the result of %zu bytes exceeds %d bytes.\n%s", function, result.size(),
                     kWorkingLimit);
        out[0] = 0x00;
        *outLen = 1;
        return 1;
    }
    std::memcpy(out, result.data(), result.size());
    *outLen = static_cast<int>(result.size());
    return rc;
}

void failOut(unsigned char* out, int* outLen) {
    if (out != nullptr && outLen != nullptr) {
        out[0] = 0x00;
        *outLen = 1;
    }
}

} // namespace

extern "C" {

WY_NFC_EXPORT const char* getVersion(void) {
    // Needs no instance: the version is a constant of the library.
    static const std::string version = WyNfcAPI::kVersion;
    return version.c_str();
}

WY_NFC_EXPORT void destroy(void) {
    WyNfcAPI::getInstance()->destroy();
}

WY_NFC_EXPORT int loadAddressMapFile(const char* json) {
    if (json == nullptr) {
        WY_LOG_ERROR("No address map text was given.\n%s");
        return 1;
    }
    return WyNfcAPI::getInstance()->loadAddressMapFile(json);
}

WY_NFC_EXPORT char* getNFCProductPropertiesJsonByName(const char* name) {
    return heapCopy(WyNfcAPI::getInstance()->getNFCProductPropertiesJsonByName(nameOf(name)));
}

WY_NFC_EXPORT char* getJsonValuesFromDataByName(const char* name, const unsigned char* data, int len) {
    const auto bytes = inputBytes(data, len, __func__);
    if (!bytes) {
        return nullptr;
    }
    return heapCopy(WyNfcAPI::getInstance()->getJsonValuesFromDataByName(nameOf(name), *bytes));
}

WY_NFC_EXPORT void updateValuesFromOldDataByName(const char* name, const char* json,
                                                 const unsigned char* oldData, int oldLen, bool fillPadByte,
                                                 bool fillReserveByte, unsigned char* out, int* outLen) {
    if (out == nullptr || outLen == nullptr) {
        return;
    }
    *outLen = 0;
    const auto old = inputBytes(oldData, oldLen, __func__);
    if (!old) {
        return;
    }
    if (!old->empty()) {
        std::memcpy(out, old->data(), old->size());
    }
    Bytes merged(old->begin(), old->end());
    if (WyNfcAPI::getInstance()->updateValuesFromOldDataByName(nameOf(name), json != nullptr ? json : "",
                                                               merged, fillPadByte, fillReserveByte) != 0) {
        return;
    }
    if (!merged.empty()) {
        std::memcpy(out, merged.data(), merged.size());
    }
    *outLen = static_cast<int>(merged.size());
}

WY_NFC_EXPORT void getNFCReadMemoryDataByNameCmd(const unsigned char* uid, void* /*unused*/, const char* name,
                                                 int isBle, unsigned char* out, int* outLen) {
    if (uid == nullptr) {
        failOut(out, outLen);
        return;
    }
    Bytes command;
    const int rc = WyNfcAPI::getInstance()->getNFCReadMemoryDataByNameCmd(
        nameOf(name), wy_nfc_mapping::Uid(uid, 8), command, isBle == 1);
    copyOut(command, rc, out, outLen, __func__);
}

WY_NFC_EXPORT void getNFCWriteMemoryDataByNameCmd(const unsigned char* uid, void* /*unused*/,
                                                  const unsigned char* data, int dataLen, int blockIndex,
                                                  const char* name, int isBle, unsigned char* out,
                                                  int* outLen) {
    const auto bytes = inputBytes(data, dataLen, __func__);
    if (uid == nullptr || !bytes) {
        failOut(out, outLen);
        return;
    }
    Bytes command;
    const int rc = WyNfcAPI::getInstance()->getNFCWriteMemoryDataByNameCmd(
        nameOf(name), wy_nfc_mapping::Uid(uid, 8), blockIndex, *bytes, command, isBle == 1);
    copyOut(command, rc, out, outLen, __func__);
}

WY_NFC_EXPORT int getCalcCRC16Result(const unsigned char* bytes, int len) {
    if (len < 1 || bytes == nullptr) {
        return 0xFFFF;
    }
    return wy_nfc_mapping::crc16Mcrf4xx(ByteSpan(bytes, static_cast<size_t>(len)));
}

WY_NFC_EXPORT int getBLECmd(const unsigned char* cmd, int len, unsigned char* out, int* outLen) {
    const auto command = inputBytes(cmd, len, __func__);
    if (!command) {
        failOut(out, outLen);
        return 1;
    }
    Bytes frame;
    const int rc = WyNfcAPI::getInstance()->getBLECmd(*command, frame);
    return copyOut(frame, rc, out, outLen, __func__);
}

WY_NFC_EXPORT char* dump(const unsigned char* bytes, int len) {
    if (len < 0 || (bytes == nullptr && len > 0)) {
        return heapCopy(std::string());
    }
    return heapCopy(wy_nfc_mapping::dump(ByteSpan(bytes, static_cast<size_t>(len))));
}

} // extern "C"
