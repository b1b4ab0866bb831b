#include "readers/ble_reader.h"

#include "platform/console_log.h"
#include "readers/prop_data_info.h"
#include "readers/shared_api.h"

#include <algorithm>
#include <utility>

namespace wynfc {
namespace {

constexpr std::size_t kBlockSize = 4;
// Unanswered commands remembered at most; older ones are long past answering.
constexpr std::size_t kOwedRequestsKept = 4;

void log(const std::string& text) {
    logLine(BleReader::TAG, text);
}

// The library's frame around a host command; empty when it could not build one.
std::optional<Bytes> framed(const std::optional<std::vector<int>>& hostCommand) {
    if (!hostCommand || hostCommand->empty()) {
        return std::nullopt;
    }
    const auto frame = sharedApi().getBLECmd(*hostCommand);
    if (!frame || frame->empty()) {
        return std::nullopt;
    }
    return bytesFromNumbers(*frame);
}

} // namespace

BleReader::BleReader(const CentralManagerFactory& centralFactory, MainQueue& mainQueue, Timing timing)
    : mMainQueue(mainQueue), mCountdown(timing, TAG),
      mBluetoothManager(std::make_unique<BluetoothManager>(centralFactory, mainQueue)) {}

BleReader::~BleReader() {
    // Its central goes with it: no notification reaches this reader afterwards.
    mBluetoothManager.reset();
}

void BleReader::startScan(std::weak_ptr<ResponseToReaderDelegate> /*receiver*/, bool /*isWriteMode*/) {
    mBluetoothManager->setDelegate(this);
}

void BleReader::setScanDelegate(std::weak_ptr<BleScanDelegate> receiver) {
    std::lock_guard lock(mStateLock);
    scanDelegate = std::move(receiver);
}

Bytes BleReader::tagId() const {
    std::lock_guard lock(mStateLock);
    return mTagID;
}

std::optional<Bytes> BleReader::tagUid() const {
    // The inventory's data: the number of records, then per record the transponder type,
    // the DSFID and the UID (8 bytes). The jobs address the first tag.
    const Bytes id = tagId();
    constexpr std::size_t kUidStart = 3;
    constexpr std::size_t kUidSize = 8;
    if (id.size() < kUidStart + kUidSize || id[0] == 0) {
        return std::nullopt;
    }
    return Bytes(id.begin() + kUidStart, id.begin() + kUidStart + kUidSize);
}

void BleReader::onPeripheralDiscovered(const std::shared_ptr<Peripheral>& peripheral) {
    std::shared_ptr<BleScanDelegate> receiver;
    {
        std::lock_guard lock(mStateLock);
        receiver = scanDelegate.lock();
    }
    if (receiver) {
        receiver->addDiscoveredPeripheral(peripheral);
        // Not ended here should its other owners have let go meanwhile: it owns this reader,
        // whose callback this is (see BluetoothManager::report).
        mMainQueue.async([last = std::move(receiver)] {});
    }
}

// ---- frame assembly ----

void BleReader::onDataReceived(const Bytes& bytes) {
    std::lock_guard lock(mFrameLock);
    if (mFrameResponseCompleted) {
        // An answer waits to be taken. The reader answers in order, so whatever follows it
        // answers nothing that waits now; the next command starts afresh anyway.
        return;
    }
    // A frame short of the length its header declares takes every notification: tag data
    // inside it may begin a notification exactly like a frame.
    const bool inProgress = mIsSameFrame && frameProgress(mFrameBytes) == FrameProgress::Incomplete;
    if (!inProgress && isFrameStart(bytes)) {
        // A new frame replaces what an unfinished one left.
        mFrameBytes.clear();
        mIsSameFrame = true;
        mErrorStatus.reset();
        if (bytes[5] != 0x00) {
            mErrorStatus = bytes[5];
            mIsSameFrame = false;
            mFrameResponseCompleted = true;
            log("######### Frame has error! #########");
            mFrameArrived.notify_all();
            return;
        }
    }
    if (!mIsSameFrame) {
        return; // no frame open
    }
    mFrameBytes.insert(mFrameBytes.end(), bytes.begin(), bytes.end());
    switch (frameProgress(mFrameBytes)) {
    case FrameProgress::Incomplete:
        return;
    case FrameProgress::Complete:
        if (!mAwaitedRequest.empty() &&
            !canAnswer(mAwaitedRequest, Bytes(mFrameBytes.begin() + 6, mFrameBytes.end() - 2))) {
            // The answer to an earlier command, whose wait has given up: not this one's.
            log("An answer of another command's form came: dropped");
            mFrameBytes.clear();
            mIsSameFrame = false;
            return;
        }
        log("######### A entire frame is received #########");
        break;
    case FrameProgress::Failed:
        // Too long for its length field, or not ending in its CRC: no answer will mend it.
        log("A frame of " + std::to_string(mFrameBytes.size()) + " bytes failed its length or CRC check");
        mFrameBytes.clear();
        break;
    }
    mIsSameFrame = false;
    mFrameResponseCompleted = true;
    mFrameArrived.notify_all();
}

ReaderResponseFrame BleReader::sendAndWait(const Bytes& frame) {
    ReaderResponseFrame response;
    if (mMainQueue.isMainThread()) {
        // The answer would have to come through the very queue this call blocks.
        log("sendAndWait refused on the main queue");
        return response;
    }
    std::lock_guard command(mCommandLock);
    if (mayMeetAnEarlierAnswer(frame)) {
        // An earlier command like this one went unanswered, and its answer, should it still
        // come, would pass for this one's. The reader answers in order: asked for its tags
        // first, whose answer cannot be taken for anything else, it sends whatever it still
        // owed before that answer.
        log("An earlier answer may still come: asking for the tags first");
        if (const auto inventoryFrame = framed(std::vector<int>{0xB0, 0x01, 0x00})) {
            exchange(*inventoryFrame, true);
        }
    }
    return exchange(frame, false);
}

bool BleReader::mayMeetAnEarlierAnswer(const Bytes& frame) {
    std::lock_guard lock(mFrameLock);
    return std::any_of(mOwedRequests.begin(), mOwedRequests.end(),
                       [&](const Bytes& owed) { return answersLookAlike(owed, frame); });
}

ReaderResponseFrame BleReader::exchange(const Bytes& frame, bool onlyIfSent) {
    ReaderResponseFrame response;
    {
        // Whatever is left belongs to an earlier command (an answer that came after its wait
        // gave up): it must not pass for the answer to this one.
        std::lock_guard lock(mFrameLock);
        if (mFrameResponseCompleted) {
            log("Dropped an answer that came after its wait had ended");
        }
        mFrameResponseCompleted = false;
        mFrameBytes.clear();
        mIsSameFrame = false;
        mErrorStatus.reset();
        mAwaitedRequest = frame;
    }

    const bool sent = mBluetoothManager->writeData(frame);

    std::unique_lock lock(mFrameLock);
    if (!sent && onlyIfSent) {
        mAwaitedRequest.clear();
        return response;
    }
    const auto outcome = mCountdown.wait(lock, mFrameArrived, [this] { return mFrameResponseCompleted; });
    mAwaitedRequest.clear();
    if (outcome == ResponseCountdown::Outcome::TimedOut) {
        mFrameBytes.clear();
        if (sent) {
            // Its answer may still come, before the answer to a later command.
            mOwedRequests.push_back(frame);
            if (mOwedRequests.size() > kOwedRequestsKept) {
                mOwedRequests.erase(mOwedRequests.begin());
            }
        }
        log("WAIT BLE RESPONSE TIMEOUT!!");
        return response;
    }
    // Answers come in order: nothing owed for a command sent before this one can come now.
    mOwedRequests.clear();
    mFrameResponseCompleted = false;
    if (!mFrameBytes.empty() && parseResponseFrame(mFrameBytes, response)) {
        log("Parse frame ok!!!");
    } else {
        log("Parse frame error");
        if (mErrorStatus) {
            // The reader's own error answer: its status tells service work why (a block beyond
            // the tag, no tag in the field); the jobs take it as any failed answer.
            response.startByte = 0x02;
            response.status = *mErrorStatus;
        }
    }
    mErrorStatus.reset();
    mFrameBytes.clear();
    return response;
}

// ---- blocks, for service work ----

ReaderResponseFrame BleReader::readBlocks(int first, int count) {
    if (first < 0 || count < 1 || first + count > 256) {
        return {};
    }
    const auto frame = framed(std::vector<int>{0xB0, 0x23, 0x00, first, count});
    return frame ? sendAndWait(*frame) : ReaderResponseFrame{};
}

ReaderResponseFrame BleReader::writeBlock(int block, const Bytes& bytes) {
    if (block < 0 || block > 255 || bytes.size() != kBlockSize) {
        return {};
    }
    dropReadAhead();
    std::vector<int> command{0xB0, 0x24, 0x00, block, 1, static_cast<int>(kBlockSize)};
    // The reader takes each block last byte first.
    command.insert(command.end(), bytes.rbegin(), bytes.rend());
    const auto frame = framed(command);
    return frame ? sendAndWait(*frame) : ReaderResponseFrame{};
}

ReaderResponseFrame BleReader::systemInformation() {
    const auto frame = framed(std::vector<int>{0xB0, 0x2B, 0x00});
    return frame ? sendAndWait(*frame) : ReaderResponseFrame{};
}

// ---- reads ----

ResultObj BleReader::readByName(const std::string& name) {
    return name == kScanNfc ? inventory() : readArea(name);
}

ResultObj BleReader::inventory() {
    dropReadAhead(); // the tag in the field may be another one now
    const auto frame = framed(std::vector<int>{0xB0, 0x01, 0x00});
    if (!frame) {
        return ResultObj::failure(std::string(), Bytes{});
    }
    const ReaderResponseFrame response = sendAndWait(*frame);
    if (response.data.empty()) {
        return ResultObj::failure(std::string(), Bytes{});
    }
    {
        std::lock_guard lock(mStateLock);
        mTagID = response.data;
    }
    return ResultObj::ok(Bytes{}, std::string());
}

ResultObj BleReader::readArea(const std::string& name) {
    bool failed = false;
    if (const auto ahead = readAreaAhead(name, failed)) {
        return decodedArea(name, *ahead);
    }
    if (failed) {
        return ResultObj::failure("read failed", Bytes{});
    }
    const auto frame =
        framed(sharedApi().getNFCReadMemoryDataByNameCmd(name, numbersFromBytes(tagId()), true));
    if (!frame) {
        return ResultObj::failure(std::string(), Bytes{});
    }
    const ReaderResponseFrame response = sendAndWait(*frame);
    if (response.data.empty()) {
        return ResultObj::failure("read failed", Bytes{});
    }
    // No bytes from an answer that carried data means it was malformed (DB-N disagreeing with
    // the blocks sent): decoding nothing would show zeros as the driver's settings.
    const Bytes area = extractBlockData(response.data);
    if (area.empty()) {
        return ResultObj::failure("read failed", Bytes{});
    }
    return decodedArea(name, area);
}

ResultObj BleReader::decodedArea(const std::string& name, const Bytes& area) {
    return ResultObj::ok(area, sharedApi().getJsonValuesFromDataByName(name, numbersFromBytes(area)));
}

// ---- reading planned areas together ----

void BleReader::setCoalescing(bool on) {
    std::lock_guard lock(mStateLock);
    mCoalescing = on;
    if (!on) {
        mReadAhead.clear();
    }
}

void BleReader::planReads(const std::vector<std::string>& areas) {
    {
        // Without coalescing (the default) every job would look up its areas for nothing.
        std::lock_guard lock(mStateLock);
        if (!mCoalescing) {
            mReadAhead.clear();
            return;
        }
    }
    std::vector<ReadAhead::AreaBlocks> planned;
    for (const std::string& name : areas) {
        if (const auto info = propDataInfo(name)) {
            planned.push_back({name, info->firstBlock(), static_cast<int>(info->normBlockCount)});
        }
    }
    std::lock_guard lock(mStateLock);
    if (!mCoalescing || planned.empty()) {
        mReadAhead.clear();
        return;
    }
    mReadAhead.plan(std::move(planned));
}

void BleReader::dropReadAhead() {
    std::lock_guard lock(mStateLock);
    mReadAhead.clear();
}

std::optional<Bytes> BleReader::readAreaAhead(const std::string& name, bool& failed) {
    std::optional<ReadAhead::Span> span;
    {
        std::lock_guard lock(mStateLock);
        if (!mCoalescing || !mReadAhead.planned(name)) {
            return std::nullopt;
        }
        if (auto bytes = mReadAhead.fetched(name)) {
            log("Read " + name + " from the blocks read ahead");
            return bytes;
        }
        span = mReadAhead.spanFor(name, kMostBlocksPerRead);
    }
    const ReaderResponseFrame response = readBlocks(span->first, span->count);
    const Bytes bytes = response.data.empty() ? Bytes{} : extractBlockData(response.data);
    if (bytes.size() != static_cast<std::size_t>(span->count) * kBlockSize) {
        // An error answer may concern a neighbour's block only: the area alone may still read.
        failed = response.startByte != 0x02 || response.isOk();
        log("Reading blocks " + std::to_string(span->first) + " to " +
            std::to_string(span->first + span->count - 1) + " together failed");
        return std::nullopt;
    }
    std::lock_guard lock(mStateLock);
    mReadAhead.keep(span->first, bytes);
    return mReadAhead.fetched(name);
}

// ---- writes ----

ResultObj BleReader::writeByName(const std::string& name, const std::string& json) {
    dropReadAhead(); // the old bytes are read afresh, and the tag's change ahead
    const ResultObj old = readByName(name);
    if (!old.isOk()) {
        return ResultObj::failure("Reading old bytes was empty");
    }
    const Bytes oldBytes = old.rawData.value_or(Bytes{});
    const auto mergedNumbers =
        sharedApi().updateValuesFromOldDataByName(name, json, numbersFromBytes(oldBytes), true, true);
    if (!mergedNumbers) {
        return ResultObj::failure("Parse old bytes was failed");
    }
    const Bytes merged = bytesFromNumbers(*mergedNumbers);
    const std::size_t count = merged.size();
    log("data size: " + std::to_string(count) + " raw: Optional(" + std::to_string(oldBytes.size()) + ")");
    dumpBytes(merged);

    const Bytes tagUid = tagId();
    for (std::size_t index = 0; index < count / kBlockSize; ++index) {
        const std::size_t offset = index * kBlockSize;
        log("(data size: " + std::to_string(count) + " write remain bytes:" + std::to_string(count - offset));
        // The reader takes each block last byte first.
        const Bytes block =
            reverseBlockBytes(Bytes(merged.begin() + static_cast<std::ptrdiff_t>(offset),
                                    merged.begin() + static_cast<std::ptrdiff_t>(offset + kBlockSize)));
        const auto frame = framed(sharedApi().getNFCWriteMemoryDataByNameCmd(
            name, numbersFromBytes(tagUid), static_cast<int>(index), numbersFromBytes(block), true));
        if (!frame) {
            return ResultObj::failure("cmd is empty!");
        }
        dumpBytes(*frame);
        if (!sendAndWait(*frame).isOk()) {
            return ResultObj::failure("write status is not 0x00");
        }
    }
    return ResultObj::ok(std::nullopt, "null");
}

} // namespace wynfc
