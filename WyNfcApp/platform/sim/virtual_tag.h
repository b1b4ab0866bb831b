#pragma once

#include "platform/nfc_tag.h"
#include "platform/sim/tag_image.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace wynfc {

// What a tag does with one radio operation.
enum class TagAnswer {
    Ok,
    BlockOutOfRange, // a block beyond the tag's memory: nothing read or written
    BlockProtected,  // a write touching a write-protected block: nothing written
    Failed,          // an injected failure
    NoAnswer,        // the tag stays silent; the operation never completes
    Gone,            // the tag has left the field
};

enum class TagOperationKind { Read, Write };

// An ISO 15693 tag of 4-byte blocks, as the simulated readers see it in their field.
// Thread-safe: a tag session and a Bluetooth reader may work on it from their own queues
// while a test inspects it.
//
// Radio operations (readBlocks, writeBlocks) are subject to write protection and to the
// injected faults and count towards leaving the field; the direct accessors (memory,
// setMemory, image) are for setting up and checking, and bypass all of that.
class VirtualTag {
public:
    static constexpr int kBlockSize = TagImage::kBlockSize;
    static constexpr int kEveryTime = -1;

    // Throws TagImageError for an inconsistent image.
    explicit VirtualTag(TagImage image);
    static std::shared_ptr<VirtualTag> load(const std::filesystem::path& file);

    // The UID in the order the tag reports it.
    const Bytes& uid() const { return uid_; }
    int blockCount() const { return blockCount_; }
    // ISO 15693 UID layout as reported (least significant byte first): the six serial
    // bytes, the manufacturer code, then 0xE0.
    int icManufacturerCode() const { return uid_[6]; }
    Bytes icSerialNumber() const { return Bytes(uid_.begin(), uid_.begin() + 6); }

    struct ReadReply {
        TagAnswer answer = TagAnswer::Ok;
        std::vector<Bytes> blocks; // one per block, only when answer is Ok
    };
    ReadReply readBlocks(int firstBlock, int count);
    // Writes data.size() / 4 whole blocks from firstBlock; the size must be a non-zero
    // multiple of 4 (otherwise BlockOutOfRange). All or nothing.
    TagAnswer writeBlocks(int firstBlock, std::span<const std::uint8_t> data);

    // Direct access, no faults, no protection, not counted.
    TagImage image() const;
    void save(const std::filesystem::path& file) const;
    Bytes memory() const;
    Bytes blockBytes(int firstBlock, int count) const;                  // throws std::out_of_range
    void setMemory(int firstBlock, std::span<const std::uint8_t> data); // throws std::out_of_range

    void protectBlock(int block, bool isProtected = true);
    bool isProtected(int block) const;

    // Faults. A fault applies to the radio operations of its kind that touch `block`
    // (any block when absent), `times` times or for good, until cleared. The first
    // matching fault wins.
    void injectFault(TagOperationKind operation, TagAnswer answer, std::optional<int> block = std::nullopt,
                     int times = kEveryTime);
    // The tag answers `operations` more radio operations, then leaves the field: every
    // later operation gets Gone. Zero leaves at once.
    void leaveFieldAfter(int operations);
    bool hasLeftField() const;
    // Back in the field, e.g. presented again by a test. Keeps other faults.
    void returnToField();
    void clearFaults();

    // Radio operations received so far, answered or not.
    int operationCount() const;

private:
    struct Fault {
        TagOperationKind operation;
        TagAnswer answer;
        std::optional<int> block;
        int timesLeft;
    };

    // The answer an operation gets before it touches memory: Ok to go on.
    TagAnswer beginOperationLocked(TagOperationKind operation, int firstBlock, int count);
    void finishOperationLocked();
    bool inRange(int firstBlock, int count) const;

    const Bytes uid_;
    const int blockCount_;
    const std::string name_;
    const std::string description_;

    mutable std::mutex mutex_;
    Bytes memory_;
    std::vector<bool> protected_;
    std::vector<Fault> faults_;
    std::optional<int> operationsBeforeLeaving_;
    bool leftField_ = false;
    int operationCount_ = 0;
};

} // namespace wynfc
