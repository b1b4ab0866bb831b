#include "platform/linux/pcsc/pcsc_tag_reader.h"

#include "platform/console_log.h"
#include "platform/linux/pcsc/pcsc_context.h"
#include "platform/linux/pcsc/pcsc_reader_watch.h"
#include "platform/linux/pcsc/pcsc_storage_card.h"
#include "platform/sim/event_loop.h"

#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace wynfc {
namespace pcsc_detail {
namespace {

using pcsc::endTransparentSessionCommand;
using pcsc::getUidCommand;
using pcsc::parseSystemInfoAnswer;
using pcsc::readBinaryCommand;
using pcsc::startTransparentSessionCommand;
using pcsc::statusWordError;
using pcsc::systemInfoRequest;
using pcsc::transceiveCommand;
using pcsc::transceivedAnswer;
using pcsc::updateBinaryCommand;

constexpr const char* kLogTag = "------ PcscTagReader ------";

void log(const std::string& text) {
    logLine(kLogTag, text);
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

// What a PC/SC error means for the tag. A card taken away fails the command in flight with
// "not transacted" and later calls with "removed" or "no card": all of them mean the tag
// has left the field, whatever order they come in.
NfcError errorFromPcsc(LONG rv) {
    switch (rv) {
    case SCARD_E_NOT_TRANSACTED:
    case SCARD_W_REMOVED_CARD:
    case SCARD_E_NO_SMARTCARD:
    case SCARD_W_RESET_CARD:
    case SCARD_W_UNPOWERED_CARD:
    case SCARD_W_UNRESPONSIVE_CARD:
    case SCARD_E_READER_UNAVAILABLE:
    case SCARD_E_UNKNOWN_READER:
    case SCARD_E_PROTO_MISMATCH:
        return NfcError::connectionLost();
    default:
        break;
    }
    if (isServiceGone(rv)) {
        return NfcError::sessionTerminated();
    }
    return NfcError::tagResponseError();
}

} // namespace

// A card in one of the watched readers. The id changes whenever a card is put in.
struct PresentCard {
    std::uint64_t id = 0;
    std::string reader;
    Bytes atr;
};

// What the session and its watching thread share; outlives both.
struct Watch {
    std::mutex mutex;
    std::condition_variable finishedChanged;
    SCARDCONTEXT context = 0;
    bool contextValid = false;
    bool stop = false;
    bool finished = false;
};

class Session;

// A card as handed to the delegate: operations go through the session that reported it.
class CardHandle {
public:
    CardHandle(std::weak_ptr<Session> session, PresentCard card)
        : mSession(std::move(session)), mCard(std::move(card)) {}
    virtual ~CardHandle() = default;

    const PresentCard& card() const { return mCard; }
    std::shared_ptr<Session> session() const { return mSession.lock(); }

    Bytes uid() const {
        std::lock_guard lock(mUidMutex);
        return mUid;
    }
    void setUid(Bytes uid) {
        std::lock_guard lock(mUidMutex);
        mUid = std::move(uid);
    }

private:
    std::weak_ptr<Session> mSession;
    PresentCard mCard;
    mutable std::mutex mUidMutex;
    Bytes mUid;
};

class Session final : public TagReaderSession, public std::enable_shared_from_this<Session> {
public:
    Session(std::optional<std::string> readerName, PollingOptions polling,
            std::weak_ptr<TagReaderSessionDelegate> delegate, Millis cancelRetry)
        : mReaderName(std::move(readerName)), mPolling(polling), mDelegate(std::move(delegate)),
          mCancelRetry(cancelRetry) {}

    ~Session() override {
        stopWatching();
        // The queue's tasks each hold the session, so none is left to touch the card.
        mQueue.stop();
        if (mCardConnected) {
            SCardDisconnect(mCard, SCARD_LEAVE_CARD);
        }
    }

    void setAlertMessage(const std::string& text) override {
        std::lock_guard lock(mMutex);
        mAlertMessage = text;
    }

    void begin() override {
        std::lock_guard lock(mMutex);
        if (mState != State::Created) {
            return;
        }
        mState = State::Active;
        mIsPolling = true;
        notifyDelegateLocked([](TagReaderSessionDelegate& delegate, const auto& session) {
            delegate.tagReaderSessionDidBecomeActive(session);
        });
        mWatcher = std::thread(&Session::watchReaders, mWatch, weak_from_this(), mReaderName);
    }

    void restartPolling() override {
        std::lock_guard lock(mMutex);
        if (mState != State::Active) {
            return;
        }
        mIsPolling = true;
        offerCardsLocked();
    }

    void connect(const std::shared_ptr<NfcTag>& tag, TagCompletion completion) override {
        auto handle = std::dynamic_pointer_cast<CardHandle>(tag);
        const TagKind kind = tag ? tag->kind() : TagKind::Other;
        mQueue.async(
            [self = shared_from_this(), handle = std::move(handle), kind,
             completion = std::move(completion)] { completion(self->connectOnQueue(handle, kind)); });
    }

    void invalidate() override { end(NfcError::invalidatedByUser(), std::nullopt); }
    void invalidate(const std::string& errorMessage) override {
        end(NfcError::invalidatedByUser(), errorMessage);
    }

    void readBlocks(const std::shared_ptr<CardHandle>& handle, BlockRange range,
                    ReadBlocksCompletion completion) {
        mQueue.async([self = shared_from_this(), handle, range, completion = std::move(completion)] {
            std::vector<Bytes> blocks;
            auto error = self->readOnQueue(*handle, range, blocks);
            if (error) {
                blocks.clear();
            }
            completion(std::move(blocks), error);
            self->afterOperation(error);
        });
    }

    void writeBlock(const std::shared_ptr<CardHandle>& handle, int blockNumber, Bytes data,
                    TagCompletion completion) {
        mQueue.async([self = shared_from_this(), handle, blockNumber, data = std::move(data),
                      completion = std::move(completion)] {
            auto error = self->writeOnQueue(*handle, blockNumber, data);
            completion(error);
            self->afterOperation(error);
        });
    }

    void systemInfo(const std::shared_ptr<CardHandle>& handle, SystemInfoCompletion completion) {
        mQueue.async([self = shared_from_this(), handle, completion = std::move(completion)] {
            TagSystemInfo info;
            auto error = self->systemInfoOnQueue(*handle, info);
            completion(error ? std::nullopt : std::optional(info), error);
            self->afterOperation(error);
        });
    }

    // Watching thread: the cards in the watched readers now.
    void cardsChanged(std::vector<PresentCard> cards) {
        std::lock_guard lock(mMutex);
        if (mState != State::Active) {
            return;
        }
        const bool anyNew = std::any_of(cards.begin(), cards.end(), [&](const PresentCard& card) {
            return std::none_of(mPresent.begin(), mPresent.end(),
                                [&](const PresentCard& old) { return old.id == card.id; });
        });
        for (const PresentCard& old : mPresent) {
            if (std::none_of(cards.begin(), cards.end(),
                             [&](const PresentCard& card) { return card.id == old.id; })) {
                log("Card left " + old.reader);
            }
        }
        mPresent = std::move(cards);
        if (anyNew) {
            offerCardsLocked();
        }
    }

    // Watching thread: the daemon cannot be reached any more.
    void serviceGone(LONG rv) {
        log("The PC/SC service is gone: " + pcscText(rv));
        end(NfcError::sessionTerminated(), std::nullopt);
    }

private:
    enum class State { Created, Active, Ended };
    using DelegateCall =
        std::function<void(TagReaderSessionDelegate&, const std::shared_ptr<TagReaderSession>&)>;

    void notifyDelegateLocked(DelegateCall call) {
        mQueue.async([self = shared_from_this(), delegate = mDelegate, call = std::move(call)] {
            if (auto receiver = delegate.lock()) {
                call(*receiver, self);
            }
        });
    }

    std::shared_ptr<NfcTag> makeTag(const PresentCard& card) const;

    void offerCardsLocked() {
        if (mState != State::Active || !mIsPolling || mPresent.empty()) {
            return;
        }
        // Like a phone's reader, polling pauses once tags are reported, until restarted.
        mIsPolling = false;
        std::vector<std::shared_ptr<NfcTag>> tags;
        for (const PresentCard& card : mPresent) {
            log("Card in " + card.reader + ", ATR " + hexText(card.atr));
            tags.push_back(makeTag(card));
        }
        notifyDelegateLocked(
            [tags = std::move(tags)](TagReaderSessionDelegate& delegate, const auto& session) {
                delegate.tagReaderSessionDidDetect(session, tags);
            });
    }

    bool end(NfcError error, std::optional<std::string> errorMessage) {
        {
            std::lock_guard lock(mMutex);
            if (mState == State::Ended) {
                return false;
            }
            mState = State::Ended;
            mIsPolling = false;
            if (errorMessage) {
                log("Session ended: " + *errorMessage);
            }
            // The card is let go after any command already on the queue, then the delegate hears.
            mQueue.async([self = shared_from_this()] { self->releaseCardOnQueue(); });
            notifyDelegateLocked([error](TagReaderSessionDelegate& delegate, const auto& session) {
                delegate.tagReaderSessionDidInvalidateWithError(session, error);
            });
        }
        std::lock_guard watchLock(mWatch->mutex);
        mWatch->stop = true;
        if (mWatch->contextValid) {
            SCardCancel(mWatch->context);
        }
        return true;
    }

    // The watching thread ends at its next turn; SCardCancel wakes it from its wait. A cancel
    // that comes just before the thread enters the wait is lost, so it is repeated until the
    // thread says it has finished.
    void stopWatching() {
        if (!mWatcher.joinable()) {
            return;
        }
        if (mWatcher.get_id() == std::this_thread::get_id()) {
            std::lock_guard lock(mWatch->mutex);
            mWatch->stop = true;
            mWatcher.detach();
            return;
        }
        {
            std::unique_lock lock(mWatch->mutex);
            mWatch->stop = true;
            while (!mWatch->finished) {
                if (mWatch->contextValid) {
                    SCardCancel(mWatch->context);
                }
                mWatch->finishedChanged.wait_for(lock, mCancelRetry, [&] { return mWatch->finished; });
            }
        }
        mWatcher.join();
    }

    static void watchReaders(std::shared_ptr<Watch> watch, std::weak_ptr<Session> owner,
                             std::optional<std::string> readerName);

    // ---- on the queue ----

    std::optional<NfcError> reachableLocked(const CardHandle& handle) const {
        if (mState == State::Ended) {
            return NfcError::sessionInvalidated();
        }
        if (!mCardConnected || mConnectedCard != handle.card().id) {
            return NfcError::tagNotConnected();
        }
        if (std::none_of(mPresent.begin(), mPresent.end(),
                         [&](const PresentCard& card) { return card.id == handle.card().id; })) {
            return NfcError::connectionLost();
        }
        return std::nullopt;
    }

    std::optional<NfcError> reachable(const CardHandle& handle) const {
        std::lock_guard lock(mMutex);
        return reachableLocked(handle);
    }

    std::optional<NfcError> connectOnQueue(const std::shared_ptr<CardHandle>& handle, TagKind kind) {
        {
            std::lock_guard lock(mMutex);
            if (mState == State::Ended) {
                return NfcError::sessionInvalidated();
            }
            if (!handle || handle->session().get() != this) {
                return NfcError{NfcError::kInvalidParameter, "Tag was not detected by this session"};
            }
            if (std::none_of(mPresent.begin(), mPresent.end(),
                             [&](const PresentCard& card) { return card.id == handle->card().id; })) {
                return NfcError::connectionLost();
            }
        }
        if (!mCardContext.valid()) {
            if (const LONG rv = mCardContext.establish(); rv != SCARD_S_SUCCESS) {
                log("SCardEstablishContext: " + pcscText(rv));
                return errorFromPcsc(rv);
            }
        }
        disconnectCard();
        SCARDHANDLE card = 0;
        DWORD protocol = 0;
        const LONG rv = SCardConnect(mCardContext.handle(), handle->card().reader.c_str(), SCARD_SHARE_SHARED,
                                     SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
        if (rv != SCARD_S_SUCCESS) {
            log("SCardConnect " + handle->card().reader + ": " + pcscText(rv));
            return errorFromPcsc(rv);
        }
        mCard = card;
        mProtocol = protocol;
        mCardConnected = true;
        if (kind != TagKind::Iso7816) {
            Bytes uid;
            const auto error = transmit(getUidCommand(), uid);
            if (error && kind == TagKind::Iso15693) {
                disconnectCard();
                return error;
            }
            if (!error) {
                handle->setUid(std::move(uid));
            }
        }
        std::lock_guard lock(mMutex);
        if (mState == State::Ended) {
            return NfcError::sessionInvalidated();
        }
        mConnectedCard = handle->card().id;
        return std::nullopt;
    }

    std::optional<NfcError> readOnQueue(const CardHandle& handle, BlockRange range,
                                        std::vector<Bytes>& blocks) {
        if (auto error = reachable(handle)) {
            return error;
        }
        if (range.first < 0 || range.count < 1 || range.first + range.count > 0x10000) {
            return NfcError{NfcError::kInvalidParameter, "Invalid block range"};
        }
        // One block per command: a reader passes a single-block read to every tag, and
        // the range fails as a whole on the first block that fails.
        for (int block = range.first; block < range.first + range.count; ++block) {
            Bytes data;
            if (auto error = transmit(readBinaryCommand(block), data)) {
                log("Reading block " + std::to_string(block) + " failed");
                return error;
            }
            if (data.size() != 4) {
                log("Block " + std::to_string(block) + " came with " + std::to_string(data.size()) +
                    " bytes");
                return NfcError::tagResponseError();
            }
            blocks.push_back(std::move(data));
        }
        return std::nullopt;
    }

    std::optional<NfcError> writeOnQueue(const CardHandle& handle, int blockNumber, const Bytes& data) {
        if (auto error = reachable(handle)) {
            return error;
        }
        // The command carries an 8-bit block number: a larger one must not land elsewhere.
        if (blockNumber < 0 || blockNumber > 255) {
            return NfcError{NfcError::kInvalidParameter, "Block number out of range"};
        }
        if (data.size() != 4) {
            return NfcError{NfcError::kInvalidParameter, "Data block must hold 4 bytes"};
        }
        Bytes answer;
        if (auto error = transmit(updateBinaryCommand(blockNumber, data), answer)) {
            log("Writing block " + std::to_string(blockNumber) + " failed");
            return error;
        }
        return std::nullopt;
    }

    // Get System Information goes to the tag itself, in a transparent session, where the
    // reader offers one; a reader that refuses the session cannot carry out the command.
    std::optional<NfcError> systemInfoOnQueue(const CardHandle& handle, TagSystemInfo& info) {
        if (auto error = reachable(handle)) {
            return error;
        }
        Bytes data;
        if (auto error = transmit(startTransparentSessionCommand(), data)) {
            return error->code == NfcError::kTagResponseError ? NfcError::unsupportedFeature() : *error;
        }
        auto error = transmit(transceiveCommand(systemInfoRequest()), data);
        std::optional<TagSystemInfo> answer;
        if (!error) {
            const auto frame = transceivedAnswer(data);
            answer = frame ? parseSystemInfoAnswer(*frame) : std::nullopt;
            if (!answer) {
                log("Get System Information: answer " + hexText(data));
                error = NfcError::tagResponseError();
            }
        }
        Bytes ended;
        if (auto endError = transmit(endTransparentSessionCommand(), ended); endError && !error) {
            error = endError;
        }
        if (!error) {
            info = *answer;
        }
        return error;
    }

    // One command to the connected card; data gets the answer without its status word.
    std::optional<NfcError> transmit(const Bytes& command, Bytes& data) {
        data.clear();
        if (!mCardConnected) {
            return NfcError::tagNotConnected();
        }
        const SCARD_IO_REQUEST* pci = mProtocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
        Bytes response(258);
        DWORD length = response.size();
        const LONG rv =
            SCardTransmit(mCard, pci, command.data(), command.size(), nullptr, response.data(), &length);
        if (rv != SCARD_S_SUCCESS) {
            log("SCardTransmit " + hexText(command) + ": " + pcscText(rv));
            return errorFromPcsc(rv);
        }
        response.resize(std::min<std::size_t>(length, response.size()));
        if (auto error = statusWordError(response)) {
            log("SCardTransmit " + hexText(command) + ": answer " + hexText(response));
            return error;
        }
        data.assign(response.begin(), response.end() - 2);
        return std::nullopt;
    }

    // A command that found the daemon gone ends the session.
    void afterOperation(const std::optional<NfcError>& error) {
        if (error && error->code == NfcError::kSessionTerminatedUnexpectedly) {
            end(NfcError::sessionTerminated(), std::nullopt);
        }
    }

    void disconnectCard() {
        if (mCardConnected) {
            SCardDisconnect(mCard, SCARD_LEAVE_CARD);
            mCardConnected = false;
        }
        std::lock_guard lock(mMutex);
        mConnectedCard = 0;
    }

    void releaseCardOnQueue() {
        disconnectCard();
        mCardContext.release();
    }

    const std::optional<std::string> mReaderName;
    const PollingOptions mPolling;
    const std::weak_ptr<TagReaderSessionDelegate> mDelegate;
    const Millis mCancelRetry;
    const std::shared_ptr<Watch> mWatch = std::make_shared<Watch>();
    std::thread mWatcher;

    mutable std::mutex mMutex;
    State mState = State::Created;
    bool mIsPolling = false;
    std::string mAlertMessage;
    std::vector<PresentCard> mPresent;
    std::uint64_t mConnectedCard = 0;

    // The queue's own: the card's context and connection.
    Context mCardContext;
    SCARDHANDLE mCard = 0;
    DWORD mProtocol = 0;
    bool mCardConnected = false;

    // Last: stopped first, so no task outlives what it touches.
    EventLoop mQueue;
};

namespace {

class PcscIso15693Tag final : public Iso15693Tag, public CardHandle {
public:
    using CardHandle::CardHandle;

    Bytes identifier() const override { return uid(); }
    // The UID as the tag reports it, least significant byte first: six serial bytes, the
    // manufacturer code, then E0.
    int icManufacturerCode() const override {
        const Bytes id = uid();
        return id.size() == 8 ? id[6] : 0;
    }
    Bytes icSerialNumber() const override {
        const Bytes id = uid();
        return id.size() == 8 ? Bytes(id.begin(), id.begin() + 6) : Bytes{};
    }

    // The reader chooses the request flags of the tag's own commands; those given here are
    // the phone's and are not sent.
    void readMultipleBlocks(RequestFlags, BlockRange range, ReadBlocksCompletion completion) override {
        if (auto owner = session()) {
            owner->readBlocks(self(), range, std::move(completion));
        }
    }
    void writeSingleBlock(RequestFlags, int blockNumber, Bytes dataBlock, TagCompletion completion) override {
        if (auto owner = session()) {
            owner->writeBlock(self(), blockNumber, std::move(dataBlock), std::move(completion));
        }
    }
    void getSystemInfo(RequestFlags, SystemInfoCompletion completion) override {
        if (auto owner = session()) {
            owner->systemInfo(self(), std::move(completion));
        }
    }

    void setSelf(const std::shared_ptr<PcscIso15693Tag>& self) { mSelf = self; }

private:
    std::shared_ptr<CardHandle> self() const { return mSelf.lock(); }
    std::weak_ptr<PcscIso15693Tag> mSelf;
};

class PcscFeliCaTag final : public FeliCaTag, public CardHandle {
public:
    using CardHandle::CardHandle;
    Bytes currentSystemCode() const override { return {}; }
    Bytes currentIdm() const override { return uid(); }
};

class PcscIso7816Tag final : public Iso7816Tag, public CardHandle {
public:
    using CardHandle::CardHandle;
    std::string initialSelectedAid() const override { return {}; }
    Bytes identifier() const override { return uid(); }
};

class PcscMifareTag final : public MifareTag, public CardHandle {
public:
    PcscMifareTag(std::weak_ptr<Session> session, PresentCard card, MifareFamily family)
        : CardHandle(std::move(session), std::move(card)), mFamily(family) {}
    Bytes identifier() const override { return uid(); }
    MifareFamily mifareFamily() const override { return mFamily; }

private:
    MifareFamily mFamily;
};

class PcscOtherTag final : public NfcTag, public CardHandle {
public:
    using CardHandle::CardHandle;
    TagKind kind() const override { return TagKind::Other; }
};

} // namespace

// A card of a kind the session does not poll for is reported as of no known kind.
std::shared_ptr<NfcTag> Session::makeTag(const PresentCard& card) const {
    const pcsc::CardKind kind = pcsc::classifyAtr(card.atr);
    auto owner = std::const_pointer_cast<Session>(shared_from_this());
    switch (kind.kind) {
    case TagKind::Iso15693:
        if (mPolling.iso15693) {
            auto tag = std::make_shared<PcscIso15693Tag>(owner, card);
            tag->setSelf(tag);
            return tag;
        }
        break;
    case TagKind::FeliCa:
        if (mPolling.iso18092) {
            return std::make_shared<PcscFeliCaTag>(owner, card);
        }
        break;
    case TagKind::Iso7816:
        if (mPolling.iso14443) {
            return std::make_shared<PcscIso7816Tag>(owner, card);
        }
        break;
    case TagKind::Mifare:
        if (mPolling.iso14443) {
            return std::make_shared<PcscMifareTag>(owner, card, kind.mifareFamily);
        }
        break;
    case TagKind::Other:
        break;
    }
    return std::make_shared<PcscOtherTag>(owner, card);
}

void Session::watchReaders(std::shared_ptr<Watch> watch, std::weak_ptr<Session> owner,
                           std::optional<std::string> readerName) {
    Context context;
    LONG rv = context.establish();
    {
        std::lock_guard lock(watch->mutex);
        watch->context = context.handle();
        watch->contextValid = context.valid();
    }
    const auto report = [&](const auto& call) {
        if (auto session = owner.lock()) {
            call(*session);
        }
    };
    std::map<std::string, DWORD> readerStates;
    // Per reader: its card, and the reader's count of card events when the card was seen.
    std::map<std::string, std::pair<PresentCard, DWORD>> cards;
    std::uint64_t nextCardId = 1;
    DWORD pnpState = SCARD_STATE_UNAWARE;
    std::vector<std::string> readers;
    bool relist = true;
    while (rv == SCARD_S_SUCCESS) {
        if (relist) {
            rv = listReaders(context.handle(), readerName, readers);
            if (rv != SCARD_S_SUCCESS) {
                break;
            }
            relist = false;
            std::erase_if(readerStates, [&](const auto& entry) {
                return std::find(readers.begin(), readers.end(), entry.first) == readers.end();
            });
        }
        std::vector<SCARD_READERSTATE> states(readers.size() + 1);
        for (std::size_t i = 0; i < readers.size(); ++i) {
            states[i].szReader = readers[i].c_str();
            const auto known = readerStates.find(readers[i]);
            states[i].dwCurrentState = known != readerStates.end() ? known->second : SCARD_STATE_UNAWARE;
        }
        states.back().szReader = kPnpNotification;
        states.back().dwCurrentState = pnpState;
        {
            std::lock_guard lock(watch->mutex);
            if (watch->stop) {
                break;
            }
        }
        rv = SCardGetStatusChange(context.handle(), INFINITE, states.data(),
                                  static_cast<DWORD>(states.size()));
        {
            std::lock_guard lock(watch->mutex);
            if (watch->stop) {
                break;
            }
        }
        if (rv == SCARD_E_CANCELLED || rv == SCARD_E_TIMEOUT) {
            rv = SCARD_S_SUCCESS;
            continue;
        }
        if (rv == SCARD_E_UNKNOWN_READER || rv == SCARD_E_READER_UNAVAILABLE) {
            // A reader went away between the listing and the wait.
            rv = SCARD_S_SUCCESS;
            relist = true;
            readerStates.clear();
            continue;
        }
        if (rv != SCARD_S_SUCCESS) {
            break;
        }
        if ((states.back().dwEventState & SCARD_STATE_CHANGED) != 0U) {
            relist = true;
        }
        pnpState = states.back().dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
        std::map<std::string, std::pair<PresentCard, DWORD>> present;
        for (std::size_t i = 0; i < readers.size(); ++i) {
            const DWORD state = states[i].dwEventState;
            readerStates[readers[i]] = state & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
            if ((state & (SCARD_STATE_UNKNOWN | SCARD_STATE_UNAVAILABLE | SCARD_STATE_IGNORE)) != 0U) {
                relist = true;
                continue;
            }
            if ((state & SCARD_STATE_PRESENT) == 0U || (state & SCARD_STATE_MUTE) != 0U) {
                continue;
            }
            Bytes atr(states[i].rgbAtr, states[i].rgbAtr + std::min<DWORD>(states[i].cbAtr, MAX_ATR_SIZE));
            // The upper half of the state counts the reader's card insertions and removals:
            // a card taken out and put back between two waits is a new card.
            const DWORD events = state >> 16U;
            const auto old = cards.find(readers[i]);
            if (old != cards.end() && old->second.first.atr == atr && old->second.second == events) {
                present.emplace(readers[i], old->second);
            } else {
                present.emplace(
                    readers[i],
                    std::make_pair(PresentCard{nextCardId++, readers[i], std::move(atr)}, events));
            }
        }
        const bool changed =
            present.size() != cards.size() ||
            !std::equal(present.begin(), present.end(), cards.begin(), [](const auto& a, const auto& b) {
                return a.first == b.first && a.second.first.id == b.second.first.id;
            });
        cards = std::move(present);
        if (changed) {
            std::vector<PresentCard> list;
            for (const auto& entry : cards) {
                list.push_back(entry.second.first);
            }
            report([&](Session& session) { session.cardsChanged(std::move(list)); });
        }
    }
    bool stopped = false;
    {
        std::lock_guard lock(watch->mutex);
        stopped = watch->stop;
    }
    if (!stopped && rv != SCARD_S_SUCCESS) {
        report([&](Session& session) { session.serviceGone(rv); });
    }
    std::lock_guard lock(watch->mutex);
    context.release();
    watch->contextValid = false;
    watch->finished = true;
    watch->finishedChanged.notify_all();
}

} // namespace pcsc_detail

PcscTagReaderService::PcscTagReaderService(std::optional<std::string> readerName, Timing timing)
    : mReaderName(std::move(readerName)), mTiming(timing) {}

bool PcscTagReaderService::readingAvailable() const {
    return !readerNames().empty();
}

bool PcscTagReaderService::serviceRunning() const {
    pcsc_detail::Context context;
    return context.establish() == SCARD_S_SUCCESS;
}

std::vector<std::string> PcscTagReaderService::readerNames() const {
    pcsc_detail::Context context;
    std::vector<std::string> readers;
    if (context.establish() != SCARD_S_SUCCESS ||
        pcsc_detail::listReaders(context.handle(), mReaderName, readers) != SCARD_S_SUCCESS) {
        return {};
    }
    return readers;
}

std::shared_ptr<TagReaderSession>
PcscTagReaderService::makeSession(PollingOptions polling, std::weak_ptr<TagReaderSessionDelegate> delegate) {
    if (!serviceRunning()) {
        return nullptr;
    }
    return std::make_shared<pcsc_detail::Session>(mReaderName, polling, std::move(delegate),
                                                  mTiming.pcscCancelRetry);
}

std::unique_ptr<AvailabilityWatch> PcscTagReaderService::watchAvailability(std::function<void()> changed) {
    return pcsc_detail::watchReaderList(mReaderName, mTiming, std::move(changed));
}

} // namespace wynfc
