#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wynfc {

using Bytes = std::vector<std::uint8_t>;

// An error of the tag reader service: a numeric code and a text for people.
struct NfcError {
    // Codes the transports and the backends agree on.
    static constexpr int kUnsupportedFeature = 1;   // the reader cannot carry out the command
    static constexpr int kInvalidParameter = 3;     // e.g. a block number that does not fit 8 bits
    static constexpr int kTagConnectionLost = 100;  // the tag left the field
    static constexpr int kTagResponseError = 102;   // the tag answered with an error
    static constexpr int kSessionInvalidated = 103; // an operation on a session that has ended
    static constexpr int kTagNotConnected = 104;    // an operation on a tag that is not connected
    static constexpr int kUserCanceled = 200;       // the session's sheet was closed
    static constexpr int kSessionTerminatedUnexpectedly = 202;

    int code = 0;
    std::string description;

    // The errors every backend reports, with the texts people see.
    static NfcError connectionLost() { return {kTagConnectionLost, "Tag connection lost"}; }
    static NfcError tagResponseError() { return {kTagResponseError, "Tag response error"}; }
    static NfcError sessionInvalidated() { return {kSessionInvalidated, "Session invalidated"}; }
    static NfcError tagNotConnected() { return {kTagNotConnected, "Tag is not connected"}; }
    static NfcError invalidatedByUser() { return {kUserCanceled, "Session invalidated by user"}; }
    static NfcError unsupportedFeature() { return {kUnsupportedFeature, "Feature not supported"}; }
    static NfcError sessionTerminated() {
        return {kSessionTerminatedUnexpectedly, "Session terminated unexpectedly"};
    }
};

using TagCompletion = std::function<void(std::optional<NfcError> error)>;

// What a tag's Get System Information answer tells of it; -1 for what the answer left out.
struct TagSystemInfo {
    int dsfid = -1;
    int afi = -1;
    int blockSize = -1; // bytes per block
    int blockCount = -1;
    int icReference = -1;
};
using SystemInfoCompletion =
    std::function<void(std::optional<TagSystemInfo> info, std::optional<NfcError> error)>;
// Blocks in the order read, or an error (then the list is empty).
using ReadBlocksCompletion = std::function<void(std::vector<Bytes> blocks, std::optional<NfcError> error)>;

enum class TagKind { Iso15693, FeliCa, Iso7816, Mifare, Other };

enum class MifareFamily { Unknown, Ultralight, Plus, DesFire };

// A tag that a session detected. Handles are only meaningful within the session that
// reported them; operations on a tag complete on that session's queue.
class NfcTag {
public:
    virtual ~NfcTag() = default;
    virtual TagKind kind() const = 0;
};

// ISO 15693 request flags, one byte as sent to the tag.
using RequestFlags = std::uint8_t;
inline constexpr RequestFlags kRequestFlagHighDataRate = 0x02;
inline constexpr RequestFlags kRequestFlagAddress = 0x20;

struct BlockRange {
    int first = 0;
    int count = 0;
};

class Iso15693Tag : public NfcTag {
public:
    TagKind kind() const override { return TagKind::Iso15693; }

    // The UID in the order the tag reports it.
    virtual Bytes identifier() const = 0;
    virtual int icManufacturerCode() const = 0;
    virtual Bytes icSerialNumber() const = 0;

    // Reads range.count blocks from range.first. The completion gets one entry per block.
    virtual void readMultipleBlocks(RequestFlags flags, BlockRange range,
                                    ReadBlocksCompletion completion) = 0;

    // Writes one block. The command carries an 8-bit block number: a number outside
    // 0..255 completes with kInvalidParameter and writes nothing (it is never wrapped).
    virtual void writeSingleBlock(RequestFlags flags, int blockNumber, Bytes dataBlock,
                                  TagCompletion completion) = 0;

    // Get System Information. A reader that cannot pass the command on to the tag completes
    // with kUnsupportedFeature.
    virtual void getSystemInfo(RequestFlags flags, SystemInfoCompletion completion) = 0;
};

class FeliCaTag : public NfcTag {
public:
    TagKind kind() const override { return TagKind::FeliCa; }
    virtual Bytes currentSystemCode() const = 0;
    virtual Bytes currentIdm() const = 0;
};

class Iso7816Tag : public NfcTag {
public:
    TagKind kind() const override { return TagKind::Iso7816; }
    virtual std::string initialSelectedAid() const = 0;
    virtual Bytes identifier() const = 0;
};

class MifareTag : public NfcTag {
public:
    TagKind kind() const override { return TagKind::Mifare; }
    virtual Bytes identifier() const = 0;
    virtual MifareFamily mifareFamily() const = 0;
};

// The typed views of a detected tag; empty when the tag is of another kind.
inline std::shared_ptr<Iso15693Tag> asIso15693Tag(const std::shared_ptr<NfcTag>& tag) {
    return std::dynamic_pointer_cast<Iso15693Tag>(tag);
}
inline std::shared_ptr<FeliCaTag> asFeliCaTag(const std::shared_ptr<NfcTag>& tag) {
    return std::dynamic_pointer_cast<FeliCaTag>(tag);
}
inline std::shared_ptr<Iso7816Tag> asIso7816Tag(const std::shared_ptr<NfcTag>& tag) {
    return std::dynamic_pointer_cast<Iso7816Tag>(tag);
}
inline std::shared_ptr<MifareTag> asMifareTag(const std::shared_ptr<NfcTag>& tag) {
    return std::dynamic_pointer_cast<MifareTag>(tag);
}

} // namespace wynfc
