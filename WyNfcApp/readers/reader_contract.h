#pragma once

#include "platform/bytes.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wynfc {

enum class ErrorCode { OK, ERROR };

// Which transport a work page uses: the directly attached NFC reader or the Bluetooth reader.
enum class ReaderMode { NFC, BLE };

// "NFC" or "BLE".
std::string_view rawValue(ReaderMode mode);

// The outcome of a read or a write.
struct ResultObj {
    // OK, ERROR, or absent: the operation ended without a verdict (a read's wait timed out).
    std::optional<ErrorCode> error;
    // The area's bytes as read (reads only).
    std::optional<Bytes> rawData;
    // Reads: the area's decoded JSON values; otherwise a short message.
    std::optional<std::string> data;

    bool isOk() const { return error == ErrorCode::OK; }

    static ResultObj ok(std::optional<Bytes> rawData, std::optional<std::string> data) {
        return {ErrorCode::OK, std::move(rawData), std::move(data)};
    }
    static ResultObj failure(std::optional<std::string> data, std::optional<Bytes> rawData = std::nullopt) {
        return {ErrorCode::ERROR, std::move(rawData), std::move(data)};
    }
};

// Events of a transport.
inline constexpr const char* kEventOpened = "OPEND";
inline constexpr const char* kEventDetected = "DETECTED";
inline constexpr const char* kEventReadError = "READ_ERROR";

// The pseudo area that asks a transport whether a tag answers.
inline constexpr const char* kScanNfc = "SCAN_NFC";

// Receives a transport's events, from whichever thread produced them.
class ResponseToReaderDelegate {
public:
    virtual ~ResponseToReaderDelegate() = default;
    virtual void onReaderEvent(const std::string& event, const std::optional<std::string>& message,
                               bool isError) = 0;
};

// Every access to a driver's tag goes through one of these. readByName and writeByName
// block the calling thread until the answer or the timeout: never call them on the main queue.
class IReader {
public:
    virtual ~IReader() = default;

    virtual void startScan(std::weak_ptr<ResponseToReaderDelegate> receiver, bool isWriteMode) = 0;

    // "SCAN_NFC": is a tag there? Any other name: the named memory area, decoded.
    virtual ResultObj readByName(const std::string& name) = 0;

    // Merges the JSON values into the area's bytes as read, and writes them back.
    virtual ResultObj writeByName(const std::string& name, const std::string& json) = 0;

    // The areas a job is about to read, in any order, so that a reader able to fetch several
    // areas in one command may do so; an empty list ends the plan. What the reads return is
    // the same either way. Readers that read area by area ignore it.
    virtual void planReads(const std::vector<std::string>& areas) { (void)areas; }

    // The UID of the tag the reader last found, as the tag reports it (least significant byte
    // first); nothing before a tag was found, or from a reader that does not know it.
    virtual std::optional<Bytes> tagUid() const { return std::nullopt; }
};

} // namespace wynfc
