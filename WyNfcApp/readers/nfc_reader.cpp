#include "readers/nfc_reader.h"

#include "platform/console_log.h"
#include "readers/prop_data_info.h"
#include "readers/shared_api.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace wynfc {
namespace {

// High data rate, addressed: every block read and write carries this flag byte.
constexpr RequestFlags kBlockRequestFlags = kRequestFlagHighDataRate | kRequestFlagAddress;
constexpr int kBlockSize = 4;

constexpr const char* kInvalidSessionOrTag = "Invalid Seesion or Tag";
constexpr const char* kKeepReaderClose = "Please keep the NFC reader close to the NFC antenna area.";
constexpr const char* kMoreThanOneTag = "More than 1 tags was found. Please present only 1 tag.";

// The sheet's texts are their own localisation keys; there is no table of translations.
std::string localized(const std::string& key) {
    return key;
}

void log(const std::string& text) {
    logLine(NfcReader::kLogTag, text);
}

std::string hexText(const Bytes& bytes) {
    std::string text;
    char digits[4];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += digits;
    }
    return text;
}

} // namespace

NfcReader::NfcReader(std::shared_ptr<TagReaderService> service, Timing timing)
    : mService(std::move(service)), mCountdown(timing, kLogTag) {}

// ---- session ----

void NfcReader::startScan(std::weak_ptr<ResponseToReaderDelegate> receiver, bool isWriteMode) {
    {
        std::lock_guard lock(mSessionLock);
        mBindResponseDelegate = std::move(receiver);
        mIsWriteMode = isWriteMode;
    }
    if (!mService || !mService->readingAvailable()) {
        log("Scan is unsupported!!");
        return;
    }
    PollingOptions polling;
    polling.iso15693 = true;
    auto session = mService->makeSession(polling, weak_from_this());
    {
        std::lock_guard lock(mSessionLock);
        mTagSession = session;
    }
    if (!session) {
        log("No tag reader session could be made");
        return;
    }
    session->setAlertMessage(localized(kKeepReaderClose));
    session->begin();
}

bool NfcReader::isWriteMode() const {
    std::lock_guard lock(mSessionLock);
    return mIsWriteMode;
}

std::optional<Bytes> NfcReader::tagUid() const {
    const Connection connection = currentConnection();
    if (!connection.tag) {
        return std::nullopt;
    }
    return connection.tag->identifier();
}

void NfcReader::tagReaderSessionDidBecomeActive(const std::shared_ptr<TagReaderSession>&) {
    log("tagReaderSessionDidBecomeActive");
    sendEvent(kEventOpened, std::nullopt, false);
}

void NfcReader::tagReaderSessionDidDetect(const std::shared_ptr<TagReaderSession>& session,
                                          const std::vector<std::shared_ptr<NfcTag>>& tags) {
    log("detected: tagReaderSession " + std::to_string(tags.size()));
    if (tags.size() > 1) {
        session->invalidate(localized(kMoreThanOneTag));
        session->restartPolling();
        return;
    }
    if (tags.empty()) {
        return;
    }
    std::weak_ptr<NfcReader> weakSelf = weak_from_this();
    std::weak_ptr<TagReaderSession> weakSession = session;
    const std::shared_ptr<NfcTag> tag = tags.front();
    session->connect(tag, [weakSelf, weakSession, tag](std::optional<NfcError> error) {
        const auto self = weakSelf.lock();
        const auto connectedSession = weakSession.lock();
        if (self && connectedSession) {
            self->tagConnected(connectedSession, tag, error);
        }
    });
}

void NfcReader::tagConnected(const std::shared_ptr<TagReaderSession>& session,
                             const std::shared_ptr<NfcTag>& tag, const std::optional<NfcError>& error) {
    if (error) {
        sendEvent(kEventReadError, error->description, true);
        session->invalidate(error->description);
        return;
    }
    if (auto iso15693 = asIso15693Tag(tag)) {
        {
            std::lock_guard lock(mSessionLock);
            mCurrentTag = iso15693;
            mCurrentTagSession = session;
        }
        sendEvent(kEventDetected, std::nullopt, false);
        log("Got a ISO 15693 tag! icManufacturerCode: " + std::to_string(iso15693->icManufacturerCode()) +
            ", icSerialNumber: " + hexText(iso15693->icSerialNumber()) +
            ", identifier: " + hexText(iso15693->identifier()));
    } else if (auto feliCa = asFeliCaTag(tag)) {
        log("Got a FeliCa tag! systemCode: " + hexText(feliCa->currentSystemCode()) +
            ", IDm: " + hexText(feliCa->currentIdm()));
    } else if (auto iso7816 = asIso7816Tag(tag)) {
        log("Got a ISO 7816 tag! initialSelectedAID: " + iso7816->initialSelectedAid() +
            ", identifier: " + hexText(iso7816->identifier()));
    } else if (auto mifare = asMifareTag(tag)) {
        log("Got a MiFare tag! identifier: " + hexText(mifare->identifier()) +
            ", mifareFamily: " + std::to_string(static_cast<int>(mifare->mifareFamily())));
    } else {
        session->invalidate(localized("Unsupported tag!"));
    }
}

void NfcReader::tagReaderSessionDidInvalidateWithError(const std::shared_ptr<TagReaderSession>& session,
                                                       const NfcError& error) {
    {
        // A session that ends forgets its own tag only: an older session ending after a newer
        // one connected, or a newer one ending before it connected, leaves the connected tag.
        std::lock_guard lock(mSessionLock);
        if (session == mCurrentTagSession) {
            mCurrentTagSession.reset();
            mCurrentTag.reset();
        }
    }
    {
        // A read waiting on this session can get no answer any more: it ends at once (one
        // that has its answer already keeps it).
        std::lock_guard lock(mFrameLock);
        if (mFrameAwaited != 0 && mFrameSession == session && !mFrameResponseCompleted) {
            mFrameBytes.clear();
            mFrameResponseCompleted = true;
            mFrameAnswered.notify_all();
        }
    }
    {
        // So does a block write waiting on it, as failed: the tag never confirmed it.
        std::lock_guard lock(mWriteLock);
        if (mWriteAwaited != 0 && mWriteSession == session && !mWriteCompleted) {
            mWriteHasError = true;
            mWriteCompleted = true;
            mWriteAnswered.notify_all();
        }
    }
    if (error.code == NfcError::kTagConnectionLost) {
        sendEvent(kEventReadError, error.description, true);
    }
    log("didInvalidateWithError " + std::to_string(error.code) + " " + error.description);
}

void NfcReader::finishSession(const std::string& message, bool success) {
    const auto session = currentTagSession();
    if (!session) {
        return;
    }
    session->setAlertMessage(localized(message));
    if (success) {
        session->invalidate();
    } else {
        session->invalidate(localized(message));
    }
}

void NfcReader::abortSession(const std::string& message) {
    {
        // The aborted write was not confirmed by the tag: it fails.
        std::lock_guard lock(mWriteLock);
        if (mWriteAwaited != 0) {
            mWriteHasError = true;
            mWriteCompleted = true;
            mWriteAnswered.notify_all();
        }
    }
    const auto session = currentTagSession();
    if (!session) {
        return;
    }
    session->setAlertMessage(localized(message));
    session->invalidate(localized(message));
}

// ---- reading ----

ResultObj NfcReader::readByName(const std::string& name) {
    if (name == kScanNfc) {
        return ResultObj::ok(std::nullopt, std::nullopt);
    }
    const Connection connection = currentConnection();
    if (!connection.tag || !connection.session) {
        log(kInvalidSessionOrTag);
        return ResultObj::failure(kInvalidSessionOrTag);
    }

    std::uint64_t sequence = 0;
    {
        std::lock_guard lock(mFrameLock);
        mFrameResponseCompleted = false;
        mFrameBytes.clear();
        sequence = ++mFrameSequence;
        mFrameAwaited = sequence;
        mFrameSession = connection.session;
    }

    // Without the area's blocks nothing is sent; the wait then ends by its timeout.
    if (const auto area = propDataInfo(name)) {
        std::weak_ptr<NfcReader> weakSelf = weak_from_this();
        connection.tag->readMultipleBlocks(
            kBlockRequestFlags, BlockRange{area->firstBlock(), static_cast<int>(area->normBlockCount)},
            [weakSelf, sequence](std::vector<Bytes> blocks, std::optional<NfcError> error) {
                if (const auto self = weakSelf.lock()) {
                    self->blockReadCompleted(sequence, std::move(blocks), error);
                }
            });
    } else {
        log("No area description for " + name + ": nothing read");
    }

    std::unique_lock lock(mFrameLock);
    const auto outcome = mCountdown.wait(lock, mFrameAnswered, [this] { return mFrameResponseCompleted; });
    mFrameAwaited = 0;
    mFrameSession.reset();
    mFrameResponseCompleted = false;
    Bytes bytes = std::exchange(mFrameBytes, {});
    lock.unlock();

    if (outcome == ResponseCountdown::Outcome::TimedOut) {
        log("WAIT NFC RESPONSE TIMEOUT!!");
        sendEvent(kEventReadError);
        endCurrentSession("Read timeout");
        return {};
    }
    if (bytes.empty()) {
        log("Parse frame error");
        return ResultObj::failure(std::nullopt);
    }
    log("Parse frame ok!!!");
    auto values = sharedApi().getJsonValuesFromDataByName(name, numbersFromBytes(bytes));
    sendEvent(kEventReadError);
    return ResultObj::ok(std::move(bytes), std::move(values));
}

bool NfcReader::isAwaitedRead(std::uint64_t sequence) {
    std::lock_guard lock(mFrameLock);
    return sequence == mFrameAwaited;
}

void NfcReader::blockReadCompleted(std::uint64_t sequence, std::vector<Bytes> blocks,
                                   const std::optional<NfcError>& error) {
    if (!isAwaitedRead(sequence)) {
        log("A block read answered after its wait had ended: dropped");
        return;
    }
    if (error) {
        log(">>>>>> read failed");
    }
    {
        std::lock_guard lock(mFrameLock);
        if (sequence != mFrameAwaited) {
            return;
        }
        mFrameBytes.clear();
        if (!error) {
            for (const Bytes& block : blocks) {
                mFrameBytes.insert(mFrameBytes.end(), block.begin(), block.end());
            }
        }
        mFrameResponseCompleted = true;
        mFrameAnswered.notify_all();
    }
    if (error) {
        sendEvent(kEventReadError);
        endCurrentSession("Read failed");
    }
}

// ---- writing ----

ResultObj NfcReader::writeBlock(int blockNumber, const Bytes& blockBytes) {
    const Connection connection = currentConnection();
    std::uint64_t sequence = 0;
    {
        std::lock_guard lock(mWriteLock);
        mWriteCompleted = false;
        sequence = ++mWriteSequence;
        mWriteAwaited = sequence;
        mWriteSession = connection.session;
    }

    // Without a tag nothing is sent; the wait then ends by its timeout.
    if (const auto& tag = connection.tag) {
        std::weak_ptr<NfcReader> weakSelf = weak_from_this();
        tag->writeSingleBlock(kBlockRequestFlags, blockNumber, blockBytes,
                              [weakSelf, sequence](std::optional<NfcError> error) {
                                  if (const auto self = weakSelf.lock()) {
                                      self->blockWriteCompleted(sequence, error);
                                  }
                              });
    }

    std::unique_lock lock(mWriteLock);
    const auto outcome = mCountdown.wait(lock, mWriteAnswered, [this] { return mWriteCompleted; });
    mWriteAwaited = 0;
    mWriteSession.reset();
    mWriteCompleted = false;
    const bool hasError = std::exchange(mWriteHasError, false);
    lock.unlock();

    if (outcome == ResponseCountdown::Outcome::TimedOut) {
        log("WAIT WRITE RESPONSE TIMEOUT!!");
        sendEvent(kEventReadError);
        endCurrentSession("Write timeout");
        return ResultObj::failure("Write timeout!");
    }
    if (hasError) {
        log("Write was occurred an error");
        return ResultObj::failure(std::nullopt);
    }
    log("Write ok");
    sendEvent(kEventReadError);
    return ResultObj::ok(std::nullopt, std::nullopt);
}

bool NfcReader::isAwaitedWrite(std::uint64_t sequence) {
    std::lock_guard lock(mWriteLock);
    return sequence == mWriteAwaited;
}

void NfcReader::blockWriteCompleted(std::uint64_t sequence, const std::optional<NfcError>& error) {
    if (!isAwaitedWrite(sequence)) {
        log("A block write answered after its wait had ended: dropped");
        return;
    }
    if (error) {
        log(">>>>>> Write failed");
    }
    {
        std::lock_guard lock(mWriteLock);
        if (sequence != mWriteAwaited) {
            return;
        }
        mWriteHasError = error.has_value();
        mWriteCompleted = true;
        mWriteAnswered.notify_all();
    }
    if (error) {
        sendEvent(kEventReadError);
        endCurrentSession("Write failed");
    }
}

ResultObj NfcReader::writeByName(const std::string& name, const std::string& json) {
    const Connection connection = currentConnection();
    if (!connection.tag || !connection.session) {
        log(kInvalidSessionOrTag);
        return ResultObj::failure(kInvalidSessionOrTag);
    }

    // A read without a verdict (its wait timed out) gives no old bytes to merge into:
    // writing a merge of nothing would lose the area's other values.
    const ResultObj old = readByName(name);
    if (!old.isOk() || !old.rawData || old.rawData->empty()) {
        return ResultObj::failure("Reading old bytes was empty");
    }

    const auto merged =
        sharedApi().updateValuesFromOldDataByName(name, json, numbersFromBytes(*old.rawData), true, true);
    if (!merged) {
        return ResultObj::failure("Parse old bytes was failed");
    }

    const auto area = propDataInfo(name);
    if (!area) {
        log("No area description for " + name + ": nothing written");
        return ResultObj::failure("Area description is missing");
    }

    const Bytes bytes = bytesFromNumbers(*merged);
    if (bytes.size() < kBlockSize) {
        return ResultObj::ok(std::nullopt, "null");
    }
    // Whole blocks only, and never past the area: the bytes of a partial last block, and
    // anything a tag returned beyond the area, stay unwritten.
    const int blockCount =
        std::min(static_cast<int>(bytes.size() / kBlockSize), static_cast<int>(area->normBlockCount));
    for (int i = 0; i < blockCount; ++i) {
        const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(i) * kBlockSize;
        const ResultObj written = writeBlock(area->firstBlock() + i, Bytes(first, first + kBlockSize));
        if (written.error != ErrorCode::OK) {
            return ResultObj::failure("Write data failed");
        }
    }
    return ResultObj::ok(std::nullopt, "null");
}

// ---- helpers ----

NfcReader::Connection NfcReader::currentConnection() const {
    std::lock_guard lock(mSessionLock);
    return {mCurrentTag, mCurrentTagSession};
}

std::shared_ptr<TagReaderSession> NfcReader::currentTagSession() const {
    std::lock_guard lock(mSessionLock);
    return mCurrentTagSession;
}

void NfcReader::endCurrentSession(const std::string& errorMessage) {
    if (const auto session = currentTagSession()) {
        session->invalidate(localized(errorMessage));
    }
}

void NfcReader::sendEvent(const std::string& event, const std::optional<std::string>& message, bool isError) {
    std::shared_ptr<ResponseToReaderDelegate> receiver;
    {
        std::lock_guard lock(mSessionLock);
        receiver = mBindResponseDelegate.lock();
    }
    if (receiver) {
        receiver->onReaderEvent(event, message, isError);
    }
}

} // namespace wynfc
