#pragma once

#include "readers/block_access.h"
#include "platform/nfc_tag.h"
#include "platform/tag_reader_session.h"
#include "platform/timing.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace wynfc::cli {

// One ISO 15693 tag on a tag reader, reached block by block for service work (dump and
// restore), without the work page: a session of its own, the first ISO 15693 tag it detects,
// and one block read or written at a time, each waited for on the caller's thread.
class TagBlocks final : public BlockAccess {
public:
    // Begins a session and connects to the first ISO 15693 tag detected within
    // timing.tagPresentLimit; each operation then waits at most timing.countdownLimit().
    // `present` is called once the session runs (the simulation puts its tag into the field
    // there). Throws std::runtime_error with a message for the user when no tag comes, the
    // session cannot be made, or it ends first.
    TagBlocks(TagReaderService& service, Timing timing, const std::function<void()>& present = {});
    // Ends the session (as failed unless finish() was called).
    ~TagBlocks() override;

    TagBlocks(const TagBlocks&) = delete;
    TagBlocks& operator=(const TagBlocks&) = delete;

    Bytes uid() const override { return mUid; }
    std::optional<int> blockCount() override;
    BlockRead readBlock(int block) override;
    std::optional<NfcError> writeBlock(int block, const Bytes& bytes) override;
    // Ends the session, its sheet showing the message as success or as failure.
    void finish(const std::string& message, bool success) override;

private:
    class Delegate;
    std::shared_ptr<Delegate> mDelegate;
    std::shared_ptr<TagReaderSession> mSession;
    std::shared_ptr<Iso15693Tag> mTag;
    Bytes mUid;
    Millis mOperationLimit;
    bool mFinished = false;
};

} // namespace wynfc::cli
