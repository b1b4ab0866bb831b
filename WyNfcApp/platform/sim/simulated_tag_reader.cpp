#include "platform/sim/simulated_tag_reader.h"

#include <algorithm>
#include <stdexcept>

namespace wynfc {

namespace {

const void* keyOf(const FieldTag& tag) {
    return std::visit([](const auto& pointer) -> const void* { return pointer.get(); }, tag);
}

} // namespace

namespace sim_detail {

// What the service and its sessions share. Lock order: a session's mutex, then the
// field's, then a tag's; the field never calls into a session while holding its own.
struct TagField {
    EventLoop queue;
    mutable std::mutex mutex;
    bool readingAvailable = true;
    std::vector<FieldTag> tags;
    std::vector<std::weak_ptr<SimulatedTagReaderSession>> sessions;
    std::shared_ptr<SimulatedTagReaderSession> current;
    std::optional<NfcError> nextConnectError;
    std::optional<Millis> nextAnswerDelay;
    LinkModel linkModel;
    std::shared_ptr<LinkAccount> linkAccount;
    SimulatedTagReaderService::OperationObserver observer;
    int sessionCount = 0;

    std::vector<FieldTag> presentTagsLocked() const {
        std::vector<FieldTag> present;
        for (const FieldTag& tag : tags) {
            const auto* virtualTag = std::get_if<std::shared_ptr<VirtualTag>>(&tag);
            if (virtualTag == nullptr || !(*virtualTag)->hasLeftField()) {
                present.push_back(tag);
            }
        }
        return present;
    }

    std::vector<std::shared_ptr<SimulatedTagReaderSession>> liveSessionsLocked() {
        std::vector<std::shared_ptr<SimulatedTagReaderSession>> live;
        std::erase_if(sessions, [&](const auto& weak) {
            auto session = weak.lock();
            if (!session) {
                return true;
            }
            live.push_back(std::move(session));
            return false;
        });
        return live;
    }
};

// A detected tag as handed to the delegate; operations go through the session that
// reported it. A handle whose session is gone answers nothing.
class TagHandle {
public:
    TagHandle(std::weak_ptr<SimulatedTagReaderSession> session, FieldTag tag)
        : session_(std::move(session)), tag_(std::move(tag)) {}
    virtual ~TagHandle() = default;

    const void* key() const { return keyOf(tag_); }
    std::shared_ptr<VirtualTag> virtualTag() const {
        const auto* tag = std::get_if<std::shared_ptr<VirtualTag>>(&tag_);
        return tag != nullptr ? *tag : nullptr;
    }
    std::shared_ptr<SimulatedTagReaderSession> session() const { return session_.lock(); }

protected:
    const ForeignTag& foreign() const { return *std::get<std::shared_ptr<const ForeignTag>>(tag_); }

private:
    std::weak_ptr<SimulatedTagReaderSession> session_;
    FieldTag tag_;
};

// The field's and the tag handles' way into a session.
struct SessionAccess {
    static void tagRemoved(SimulatedTagReaderSession& session, const void* key) { session.tagRemoved(key); }
    static void readBlocks(SimulatedTagReaderSession& session, const TagHandle& handle, RequestFlags flags,
                           BlockRange range, ReadBlocksCompletion completion) {
        session.readBlocks(handle, flags, range, std::move(completion));
    }
    static void writeBlock(SimulatedTagReaderSession& session, const TagHandle& handle, RequestFlags flags,
                           int blockNumber, Bytes data, TagCompletion completion) {
        session.writeBlock(handle, flags, blockNumber, std::move(data), std::move(completion));
    }
    static void systemInfo(SimulatedTagReaderSession& session, const TagHandle& handle, RequestFlags flags,
                           SystemInfoCompletion completion) {
        session.systemInfo(handle, flags, std::move(completion));
    }
};

void removeFromField(const std::shared_ptr<TagField>& field, const void* key) {
    std::vector<std::shared_ptr<SimulatedTagReaderSession>> sessions;
    {
        std::lock_guard lock(field->mutex);
        std::erase_if(field->tags, [&](const FieldTag& tag) { return keyOf(tag) == key; });
        sessions = field->liveSessionsLocked();
    }
    for (const auto& session : sessions) {
        SessionAccess::tagRemoved(*session, key);
    }
}

namespace {

class SimIso15693Tag final : public Iso15693Tag, public TagHandle {
public:
    SimIso15693Tag(std::weak_ptr<SimulatedTagReaderSession> session, std::shared_ptr<VirtualTag> tag)
        : TagHandle(std::move(session), tag), tag_(std::move(tag)) {}

    Bytes identifier() const override { return tag_->uid(); }
    int icManufacturerCode() const override { return tag_->icManufacturerCode(); }
    Bytes icSerialNumber() const override { return tag_->icSerialNumber(); }

    void readMultipleBlocks(RequestFlags flags, BlockRange range, ReadBlocksCompletion completion) override {
        if (auto owner = session()) {
            SessionAccess::readBlocks(*owner, *this, flags, range, std::move(completion));
        }
    }
    void writeSingleBlock(RequestFlags flags, int blockNumber, Bytes dataBlock,
                          TagCompletion completion) override {
        if (auto owner = session()) {
            SessionAccess::writeBlock(*owner, *this, flags, blockNumber, std::move(dataBlock),
                                      std::move(completion));
        }
    }
    void getSystemInfo(RequestFlags flags, SystemInfoCompletion completion) override {
        if (auto owner = session()) {
            SessionAccess::systemInfo(*owner, *this, flags, std::move(completion));
        }
    }

private:
    const std::shared_ptr<VirtualTag> tag_;
};

class SimFeliCaTag final : public FeliCaTag, public TagHandle {
public:
    using TagHandle::TagHandle;
    Bytes currentSystemCode() const override { return foreign().systemCode; }
    Bytes currentIdm() const override { return foreign().idm; }
};

class SimIso7816Tag final : public Iso7816Tag, public TagHandle {
public:
    using TagHandle::TagHandle;
    std::string initialSelectedAid() const override { return foreign().initialSelectedAid; }
    Bytes identifier() const override { return foreign().identifier; }
};

class SimMifareTag final : public MifareTag, public TagHandle {
public:
    using TagHandle::TagHandle;
    Bytes identifier() const override { return foreign().identifier; }
    MifareFamily mifareFamily() const override { return foreign().mifareFamily; }
};

class SimOtherTag final : public NfcTag, public TagHandle {
public:
    using TagHandle::TagHandle;
    TagKind kind() const override { return TagKind::Other; }
};

std::shared_ptr<NfcTag> makeHandle(const std::weak_ptr<SimulatedTagReaderSession>& session,
                                   const FieldTag& tag) {
    if (const auto* virtualTag = std::get_if<std::shared_ptr<VirtualTag>>(&tag)) {
        return std::make_shared<SimIso15693Tag>(session, *virtualTag);
    }
    switch (std::get<std::shared_ptr<const ForeignTag>>(tag)->kind) {
    case TagKind::FeliCa:
        return std::make_shared<SimFeliCaTag>(session, tag);
    case TagKind::Iso7816:
        return std::make_shared<SimIso7816Tag>(session, tag);
    case TagKind::Mifare:
        return std::make_shared<SimMifareTag>(session, tag);
    case TagKind::Iso15693:
    case TagKind::Other:
        break;
    }
    return std::make_shared<SimOtherTag>(session, tag);
}

} // namespace
} // namespace sim_detail

using sim_detail::TagField;
using sim_detail::TagHandle;

// ---- session ----

SimulatedTagReaderSession::SimulatedTagReaderSession(std::weak_ptr<TagField> field, PollingOptions polling,
                                                     std::weak_ptr<TagReaderSessionDelegate> delegate)
    : field_(std::move(field)), pollingOptions_(polling), delegate_(std::move(delegate)) {}

void SimulatedTagReaderSession::setAlertMessage(const std::string& text) {
    std::lock_guard lock(mutex_);
    alertMessage_ = text;
}

void SimulatedTagReaderSession::begin() {
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::Created) {
            return;
        }
        state_ = State::Active;
        isPolling_ = true;
        notifyDelegateLocked([](TagReaderSessionDelegate& delegate, const auto& session) {
            delegate.tagReaderSessionDidBecomeActive(session);
        });
    }
    if (auto field = field_.lock()) {
        std::vector<FieldTag> tags;
        {
            std::lock_guard lock(field->mutex);
            tags = field->presentTagsLocked();
        }
        offerTags(tags);
    }
}

void SimulatedTagReaderSession::restartPolling() {
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::Active) {
            return;
        }
        isPolling_ = true;
    }
    if (auto field = field_.lock()) {
        std::vector<FieldTag> tags;
        {
            std::lock_guard lock(field->mutex);
            tags = field->presentTagsLocked();
        }
        offerTags(tags);
    }
}

void SimulatedTagReaderSession::offerTags(const std::vector<FieldTag>& tags) {
    std::lock_guard lock(mutex_);
    if (state_ != State::Active || !isPolling_ || tags.empty()) {
        return;
    }
    // Like a real reader, polling pauses once tags are reported, until restarted.
    isPolling_ = false;
    detected_.clear();
    std::vector<std::shared_ptr<NfcTag>> handles;
    for (const FieldTag& tag : tags) {
        detected_.push_back(keyOf(tag));
        handles.push_back(sim_detail::makeHandle(weak_from_this(), tag));
    }
    notifyDelegateLocked(
        [handles = std::move(handles)](TagReaderSessionDelegate& delegate, const auto& session) {
            delegate.tagReaderSessionDidDetect(session, handles);
        });
}

void SimulatedTagReaderSession::tagRemoved(const void* tagKey) {
    std::lock_guard lock(mutex_);
    std::erase(detected_, tagKey);
    const auto split = std::stable_partition(pending_.begin(), pending_.end(),
                                             [&](const PendingOperation& op) { return op.tagKey != tagKey; });
    for (auto it = split; it != pending_.end(); ++it) {
        post([fail = std::move(it->fail)] { fail(NfcError::connectionLost()); });
    }
    pending_.erase(split, pending_.end());
}

void SimulatedTagReaderSession::connect(const std::shared_ptr<NfcTag>& tag, TagCompletion completion) {
    const auto handle = std::dynamic_pointer_cast<TagHandle>(tag);
    std::shared_ptr<VirtualTag> virtualTag;
    const SessionOperation operation{SessionOperation::Kind::Connect, 0, 0, 0, {}};
    observe(operation);
    {
        std::lock_guard lock(mutex_);
        operations_.push_back(operation);
        std::optional<NfcError> error;
        if (state_ == State::Ended) {
            error = NfcError::sessionInvalidated();
        } else if (!handle || handle->session().get() != this) {
            error = NfcError{NfcError::kInvalidParameter, "Tag was not detected by this session"};
        } else if (std::find(detected_.begin(), detected_.end(), handle->key()) == detected_.end() ||
                   (handle->virtualTag() && handle->virtualTag()->hasLeftField())) {
            virtualTag = handle->virtualTag();
            error = NfcError::connectionLost();
        } else if (auto field = field_.lock()) {
            std::lock_guard fieldLock(field->mutex);
            error = std::exchange(field->nextConnectError, std::nullopt);
        }
        if (!error) {
            connected_ = handle->key();
        }
        post([completion = std::move(completion), error] { completion(error); });
    }
    afterOperation(virtualTag);
}

namespace {

Micros readBlocksAirTime(const RfLinkModel& rf, int count) {
    return count == 1 ? rf.readSingleBlock(VirtualTag::kBlockSize)
                      : rf.readMultipleBlocks(static_cast<std::size_t>(count), VirtualTag::kBlockSize);
}

Micros writeBlockAirTime(const RfLinkModel& rf) {
    return rf.writeSingleBlock(VirtualTag::kBlockSize);
}

Micros systemInfoAirTime(const RfLinkModel& rf) {
    return rf.getSystemInformation();
}

} // namespace

void SimulatedTagReaderSession::readBlocks(const TagHandle& handle, RequestFlags flags, BlockRange range,
                                           ReadBlocksCompletion completion) {
    const auto tag = handle.virtualTag();
    const SessionOperation operation{SessionOperation::Kind::ReadBlocks, flags, range.first, range.count, {}};
    observe(operation);
    {
        std::lock_guard lock(mutex_);
        operations_.push_back(operation);
        const auto fail = [&](NfcError error) {
            postAnswerLocked([completion = std::move(completion), error] { completion({}, error); });
        };
        if (auto error = unreachableLocked(handle)) {
            fail(*error);
            return;
        }
        if (range.first < 0 || range.count < 1) {
            fail(NfcError{NfcError::kInvalidParameter, "Invalid block range"});
            return;
        }
        auto reply = tag->readBlocks(range.first, range.count);
        switch (reply.answer) {
        case TagAnswer::Ok:
            postAnswerLocked(
                [completion = std::move(completion), blocks = std::move(reply.blocks)]() mutable {
                    completion(std::move(blocks), std::nullopt);
                },
                [count = range.count](const RfLinkModel& rf) { return readBlocksAirTime(rf, count); });
            break;
        case TagAnswer::NoAnswer:
            pending_.push_back(
                PendingOperation{handle.key(), [completion = std::move(completion)](const NfcError& error) {
                                     completion({}, error);
                                 }});
            break;
        case TagAnswer::Gone:
            fail(NfcError::connectionLost());
            break;
        case TagAnswer::BlockOutOfRange:
        case TagAnswer::BlockProtected:
        case TagAnswer::Failed:
            fail(NfcError::tagResponseError());
            break;
        }
    }
    afterOperation(tag);
}

void SimulatedTagReaderSession::writeBlock(const TagHandle& handle, RequestFlags flags, int blockNumber,
                                           Bytes data, TagCompletion completion) {
    const auto tag = handle.virtualTag();
    const SessionOperation operation{SessionOperation::Kind::WriteBlock, flags, blockNumber, 1, data};
    observe(operation);
    {
        std::lock_guard lock(mutex_);
        operations_.push_back(operation);
        const auto finish = [&](std::optional<NfcError> error) {
            postAnswerLocked([completion = std::move(completion), error] { completion(error); });
        };
        if (auto error = unreachableLocked(handle)) {
            finish(*error);
            return;
        }
        // The command carries the block number in one byte: a larger number must not
        // silently land on another block.
        if (blockNumber < 0 || blockNumber > 255) {
            finish(NfcError{NfcError::kInvalidParameter, "Block number out of range"});
            return;
        }
        if (data.size() != static_cast<std::size_t>(VirtualTag::kBlockSize)) {
            finish(NfcError{NfcError::kInvalidParameter, "Data block must hold 4 bytes"});
            return;
        }
        switch (tag->writeBlocks(blockNumber, data)) {
        case TagAnswer::Ok:
            postAnswerLocked([completion = std::move(completion)] { completion(std::nullopt); },
                             writeBlockAirTime);
            break;
        case TagAnswer::NoAnswer:
            pending_.push_back(
                PendingOperation{handle.key(), [completion = std::move(completion)](const NfcError& error) {
                                     completion(error);
                                 }});
            break;
        case TagAnswer::Gone:
            finish(NfcError::connectionLost());
            break;
        case TagAnswer::BlockOutOfRange:
        case TagAnswer::BlockProtected:
        case TagAnswer::Failed:
            finish(NfcError::tagResponseError());
            break;
        }
    }
    afterOperation(tag);
}

void SimulatedTagReaderSession::systemInfo(const TagHandle& handle, RequestFlags flags,
                                           SystemInfoCompletion completion) {
    const auto tag = handle.virtualTag();
    const SessionOperation operation{SessionOperation::Kind::SystemInfo, flags, 0, 0, {}};
    observe(operation);
    std::lock_guard lock(mutex_);
    operations_.push_back(operation);
    std::optional<NfcError> error = unreachableLocked(handle);
    if (!error && tag->hasLeftField()) {
        error = NfcError::connectionLost();
    }
    if (error) {
        post([completion = std::move(completion), error] { completion(std::nullopt, error); });
        return;
    }
    const TagSystemInfo info{0, 0, VirtualTag::kBlockSize, tag->blockCount(), 0};
    postAnswerLocked([completion = std::move(completion), info] { completion(info, std::nullopt); },
                     systemInfoAirTime, false);
}

std::optional<NfcError> SimulatedTagReaderSession::unreachableLocked(const TagHandle& handle) const {
    if (state_ == State::Ended) {
        return NfcError::sessionInvalidated();
    }
    if (connected_ != handle.key()) {
        return NfcError::tagNotConnected();
    }
    if (std::find(detected_.begin(), detected_.end(), handle.key()) == detected_.end()) {
        return NfcError::connectionLost();
    }
    return std::nullopt;
}

void SimulatedTagReaderSession::afterOperation(const std::shared_ptr<VirtualTag>& tag) {
    if (!tag || !tag->hasLeftField()) {
        return;
    }
    if (auto field = field_.lock()) {
        sim_detail::removeFromField(field, tag.get());
    }
}

void SimulatedTagReaderSession::invalidate() {
    end(SheetEnding::Reason::Success, std::nullopt, NfcError::invalidatedByUser(), false);
}

void SimulatedTagReaderSession::invalidate(const std::string& errorMessage) {
    end(SheetEnding::Reason::ErrorMessage, errorMessage, NfcError::invalidatedByUser(), false);
}

bool SimulatedTagReaderSession::end(SheetEnding::Reason reason, std::optional<std::string> message,
                                    NfcError error, bool onlyIfActive) {
    std::vector<PendingOperation> dropped;
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::Ended || (onlyIfActive && state_ != State::Active)) {
            return false;
        }
        state_ = State::Ended;
        isPolling_ = false;
        ending_ = SheetEnding{reason, message.value_or(alertMessage_)};
        // An ended session answers nothing more; its owner hears of the end instead.
        dropped.swap(pending_);
        notifyDelegateLocked([error](TagReaderSessionDelegate& delegate, const auto& session) {
            delegate.tagReaderSessionDidInvalidateWithError(session, error);
        });
    }
    return true;
}

std::string SimulatedTagReaderSession::alertMessage() const {
    std::lock_guard lock(mutex_);
    return alertMessage_;
}

std::optional<SheetEnding> SimulatedTagReaderSession::ending() const {
    std::lock_guard lock(mutex_);
    return ending_;
}

bool SimulatedTagReaderSession::isActive() const {
    std::lock_guard lock(mutex_);
    return state_ == State::Active;
}

bool SimulatedTagReaderSession::isPolling() const {
    std::lock_guard lock(mutex_);
    return isPolling_;
}

std::vector<SessionOperation> SimulatedTagReaderSession::operations() const {
    std::lock_guard lock(mutex_);
    return operations_;
}

void SimulatedTagReaderSession::post(std::function<void()> task) {
    if (auto field = field_.lock()) {
        field->queue.async(std::move(task));
    }
}

void SimulatedTagReaderSession::postAnswerLocked(std::function<void()> answer,
                                                 const std::function<Micros(const RfLinkModel&)>& rfTime,
                                                 bool takesPlannedDelay) {
    const auto field = field_.lock();
    if (!field) {
        return;
    }
    std::optional<Micros> delay;
    {
        std::lock_guard fieldLock(field->mutex);
        if (takesPlannedDelay) {
            delay = std::exchange(field->nextAnswerDelay, std::nullopt);
        }
        if (rfTime && field->linkModel.modelsNfc()) {
            const Micros airTime = rfTime(field->linkModel.rf);
            delay = delay.value_or(Micros{0}) + airTime;
            if (field->linkAccount) {
                field->linkAccount->add(airTime);
            }
        }
    }
    if (!delay) {
        field->queue.async(std::move(answer));
        return;
    }
    field->queue.afterMicroseconds(*delay, [weak = weak_from_this(), answer = std::move(answer)] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        {
            std::lock_guard lock(self->mutex_);
            if (self->state_ == State::Ended) {
                return; // an ended session answers nothing more
            }
        }
        answer();
    });
}

void SimulatedTagReaderSession::observe(const SessionOperation& operation) {
    SimulatedTagReaderService::OperationObserver observer;
    if (const auto field = field_.lock()) {
        std::lock_guard lock(field->mutex);
        observer = field->observer;
    }
    if (observer) {
        observer(operation);
    }
}

void SimulatedTagReaderSession::notifyDelegateLocked(DelegateCall call) {
    // The task keeps the session alive until the delegate has heard of it.
    post([self = shared_from_this(), delegate = delegate_, call = std::move(call)] {
        if (auto receiver = delegate.lock()) {
            call(*receiver, self);
        }
    });
}

// ---- service ----

SimulatedTagReaderService::SimulatedTagReaderService() : field_(std::make_shared<TagField>()) {}

SimulatedTagReaderService::~SimulatedTagReaderService() {
    // Stopped first, so that no task on the queue can be the last owner of the field
    // (and so of the queue itself).
    field_->queue.stop();
}

bool SimulatedTagReaderService::readingAvailable() const {
    std::lock_guard lock(field_->mutex);
    return field_->readingAvailable;
}

std::shared_ptr<TagReaderSession>
SimulatedTagReaderService::makeSession(PollingOptions polling,
                                       std::weak_ptr<TagReaderSessionDelegate> delegate) {
    std::lock_guard lock(field_->mutex);
    if (!field_->readingAvailable) {
        return nullptr;
    }
    auto session = std::make_shared<SimulatedTagReaderSession>(field_, polling, std::move(delegate));
    field_->liveSessionsLocked(); // prunes the ended ones nobody holds
    field_->sessions.push_back(session);
    field_->current = session;
    ++field_->sessionCount;
    return session;
}

void SimulatedTagReaderService::setReadingAvailable(bool available) {
    std::lock_guard lock(field_->mutex);
    field_->readingAvailable = available;
}

void SimulatedTagReaderService::present(FieldTag tag) {
    present(std::vector<FieldTag>{std::move(tag)});
}

void SimulatedTagReaderService::present(std::vector<FieldTag> tags) {
    for (const FieldTag& tag : tags) {
        if (keyOf(tag) == nullptr) {
            throw std::invalid_argument("present: no tag");
        }
        const auto* foreign = std::get_if<std::shared_ptr<const ForeignTag>>(&tag);
        if (foreign != nullptr && (*foreign)->kind == TagKind::Iso15693) {
            throw std::invalid_argument("present: an ISO 15693 tag must be a VirtualTag");
        }
    }
    std::vector<FieldTag> present;
    std::vector<std::shared_ptr<SimulatedTagReaderSession>> sessions;
    {
        std::lock_guard lock(field_->mutex);
        for (FieldTag& tag : tags) {
            if (auto* virtualTag = std::get_if<std::shared_ptr<VirtualTag>>(&tag)) {
                (*virtualTag)->returnToField();
            }
            const void* key = keyOf(tag);
            if (std::none_of(field_->tags.begin(), field_->tags.end(),
                             [&](const FieldTag& held) { return keyOf(held) == key; })) {
                field_->tags.push_back(std::move(tag));
            }
        }
        present = field_->presentTagsLocked();
        sessions = field_->liveSessionsLocked();
    }
    for (const auto& session : sessions) {
        session->offerTags(present);
    }
}

void SimulatedTagReaderService::remove(const FieldTag& tag) {
    sim_detail::removeFromField(field_, keyOf(tag));
}

void SimulatedTagReaderService::removeAll() {
    std::vector<FieldTag> tags;
    {
        std::lock_guard lock(field_->mutex);
        tags = field_->tags;
    }
    for (const FieldTag& tag : tags) {
        remove(tag);
    }
}

std::vector<FieldTag> SimulatedTagReaderService::tagsInField() const {
    std::lock_guard lock(field_->mutex);
    return field_->presentTagsLocked();
}

bool SimulatedTagReaderService::closeSheet() {
    const auto session = currentSession();
    return session &&
           session->end(SheetEnding::Reason::ClosedByUser, std::nullopt, NfcError::invalidatedByUser(), true);
}

bool SimulatedTagReaderService::endSession(NfcError error) {
    const auto session = currentSession();
    return session && session->end(SheetEnding::Reason::EndedBySystem, error.description, error, false);
}

void SimulatedTagReaderService::failNextConnect(NfcError error) {
    std::lock_guard lock(field_->mutex);
    field_->nextConnectError = std::move(error);
}

void SimulatedTagReaderService::delayNextAnswer(Millis delay) {
    std::lock_guard lock(field_->mutex);
    field_->nextAnswerDelay = delay;
}

void SimulatedTagReaderService::setLinkModel(const LinkModel& model, std::shared_ptr<LinkAccount> account) {
    std::lock_guard lock(field_->mutex);
    field_->linkModel = model;
    field_->linkAccount = std::move(account);
}

void SimulatedTagReaderService::setOperationObserver(OperationObserver observer) {
    std::lock_guard lock(field_->mutex);
    field_->observer = std::move(observer);
}

std::shared_ptr<SimulatedTagReaderSession> SimulatedTagReaderService::currentSession() const {
    std::lock_guard lock(field_->mutex);
    return field_->current;
}

int SimulatedTagReaderService::sessionCount() const {
    std::lock_guard lock(field_->mutex);
    return field_->sessionCount;
}

EventLoop& SimulatedTagReaderService::queue() {
    return field_->queue;
}

void SimulatedTagReaderService::waitIdle() {
    field_->queue.waitIdle();
}

} // namespace wynfc
