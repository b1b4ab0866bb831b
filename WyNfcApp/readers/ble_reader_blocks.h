#pragma once

#include "platform/timing.h"
#include "readers/block_access.h"

#include <memory>

namespace wynfc {

class BleReader;

// The tag on a Bluetooth NFC reader, block by block, through the reader's host commands
// (inventory, read and write blocks, system information), outside the work page's jobs. The
// reader must already be connected. Reads fetch a few blocks per round trip and keep the rest
// for the next calls; a write drops what was kept, so a block read after it is read again.
class BleReaderBlocks final : public BlockAccess {
public:
    // Looks for a tag (an inventory every scan-loop period) until one answers, within
    // timing.tagPresentLimit. Throws std::runtime_error with a message for the user when none
    // does or the reader stops answering.
    BleReaderBlocks(BleReader& reader, Timing timing);

    Bytes uid() const override { return mUid; }
    std::optional<int> blockCount() override;
    BlockRead readBlock(int block) override;
    std::optional<NfcError> writeBlock(int block, const Bytes& bytes) override;
    void finish(const std::string& message, bool success) override;

    // Blocks fetched per read round trip.
    static constexpr int kBlocksPerRead = 8;

private:
    BleReader& mReader;
    Bytes mUid;
    int mKeptFirst = 0;
    std::vector<Bytes> mKept; // blocks read ahead, from mKeptFirst on
};

} // namespace wynfc
