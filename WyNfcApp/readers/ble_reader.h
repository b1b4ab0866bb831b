#pragma once

#include "platform/bytes.h"
#include "platform/central_manager.h"
#include "platform/main_queue.h"
#include "platform/timing.h"
#include "readers/ble_response_frame.h"
#include "readers/bluetooth_delegates.h"
#include "readers/bluetooth_manager.h"
#include "readers/read_ahead.h"
#include "readers/reader_contract.h"
#include "readers/response_countdown.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace wynfc {

// The transport over a Bluetooth NFC reader: each tag access is one host command of the
// library, framed, written through the reader's BluetoothManager, and answered by one
// response frame assembled from notifications. Areas are read in one command and written
// back one 4-byte block per command, each block's bytes last byte first.
//
// Threads: notifications and discoveries arrive on the main queue. readByName and writeByName
// block their caller until the answer or the countdown's timeout: call them from a worker,
// never on the main queue (no notification could reach them there; they refuse at once).
// One command is in flight at a time.
//
// Lifetime: owns its BluetoothManager, which it destroys first; the same rules apply to
// destroying a BleReader (main queue, or a thread the main queue does not wait for).
class BleReader final : public IReader, public BleDataCallbackDegelate {
public:
    static constexpr const char* TAG = "------ BleReader ------";

    BleReader(const CentralManagerFactory& centralFactory, MainQueue& mainQueue, Timing timing);
    ~BleReader() override;

    BleReader(const BleReader&) = delete;
    BleReader& operator=(const BleReader&) = delete;

    // Makes this reader the data receiver of its BluetoothManager. The event receiver and the
    // write flag are not used: this transport sends no reader events.
    void startScan(std::weak_ptr<ResponseToReaderDelegate> receiver, bool isWriteMode) override;

    // "SCAN_NFC": inventory; OK (empty bytes and text) stores the tag's identifier. Another
    // name: the area read and decoded; ERROR "read failed" when no usable answer came.
    ResultObj readByName(const std::string& name) override;

    // Reads the area, merges the values into its bytes and writes every whole block back.
    // OK carries the data "null"; a failure stops at the failing block.
    ResultObj writeByName(const std::string& name, const std::string& json) override;

    // The reader reads up to this many blocks in one command.
    static constexpr int kMostBlocksPerRead = 32;
    // With coalescing on (off by default), a planned area is read together with the planned
    // areas bordering it, up to kMostBlocksPerRead blocks in one command, and each of them is
    // then handed its bytes without a command of its own. An area outside the plan, and any
    // area after the combined command met an error answer, is read alone as usual. A write,
    // an inventory or the plan's end drops the blocks fetched ahead.
    void setCoalescing(bool on);
    void planReads(const std::vector<std::string>& areas) override;

    // BleDataCallbackDegelate, on the main queue.
    void onDataReceived(const Bytes& bytes) override;
    void onPeripheralDiscovered(const std::shared_ptr<Peripheral>& peripheral) override;

    // Receiver of the readers the scan finds (`scanDelegate`), held weakly.
    void setScanDelegate(std::weak_ptr<BleScanDelegate> receiver);

    BluetoothManager& bluetoothManager() { return *mBluetoothManager; }

    // The data field of the last successful inventory (`mTagID`).
    Bytes tagId() const;
    // The first tag's UID in it, when an inventory found a tag.
    std::optional<Bytes> tagUid() const override;

    // Writes the frame and waits for its answer: the parsed frame; after an error status, a
    // record of its start byte and status only; the default record after an unusable frame or
    // the timeout. An answer that came late for an earlier command is never taken: one of
    // another command's form is dropped, and a command whose answer would look like that of
    // an earlier one left unanswered is preceded by an inventory, which the reader answers
    // only after whatever it still owed.
    ReaderResponseFrame sendAndWait(const Bytes& frame);

    // Blocks themselves, for service work outside the jobs (dump, restore), in the jobs'
    // non-addressed mode; each returns the answer as sendAndWait does (an invalid block range
    // sends nothing and returns the default record). Worker threads only.
    // Read Multiple Blocks: `count` blocks from `first` (at most 255 blocks, ending by 255).
    ReaderResponseFrame readBlocks(int first, int count);
    // Write Multiple Blocks of one block; `bytes` are the block's 4 bytes in their natural order.
    ReaderResponseFrame writeBlock(int block, const Bytes& bytes);
    // Get System Information: DSFID, UID, AFI, memory size and IC reference of the tag.
    ReaderResponseFrame systemInformation();

private:
    ResultObj inventory();
    ResultObj readArea(const std::string& name);
    // The planned area's bytes, from blocks fetched ahead or fetched now with its neighbours;
    // nothing when coalescing is off, the area is not planned or the combined read failed
    // with an error answer (the area is then read alone). A combined read that got no usable
    // answer at all fails the area, as its own read would have: `failed` is set.
    std::optional<Bytes> readAreaAhead(const std::string& name, bool& failed);
    ResultObj decodedArea(const std::string& name, const Bytes& area);
    void dropReadAhead();
    // One command and its answer, under mCommandLock. With onlyIfSent, a command the link
    // could not carry is not waited for.
    ReaderResponseFrame exchange(const Bytes& frame, bool onlyIfSent);
    // An earlier command, unanswered, whose late answer would look like this command's.
    bool mayMeetAnEarlierAnswer(const Bytes& frame);

    MainQueue& mMainQueue;
    const ResponseCountdown mCountdown;

    std::mutex mCommandLock; // one command in flight

    // Frame assembly, shared by the main queue (notifications) and the waiting worker.
    std::mutex mFrameLock;
    std::condition_variable mFrameArrived;
    bool mFrameResponseCompleted = false;
    Bytes mFrameBytes;
    bool mIsSameFrame = false;
    std::optional<std::uint8_t> mErrorStatus; // of an answer that opened with an error status
    Bytes mAwaitedRequest;                    // the command whose answer is waited for
    std::vector<Bytes> mOwedRequests;         // sent, unanswered when their waits gave up

    mutable std::mutex mStateLock;
    Bytes mTagID;
    bool mCoalescing = false;
    ReadAhead mReadAhead;
    std::weak_ptr<BleScanDelegate> scanDelegate;

    // Last: destroyed first, so that no callback reaches a half-destroyed reader.
    std::unique_ptr<BluetoothManager> mBluetoothManager;
};

} // namespace wynfc
