#pragma once

#include "platform/sim/event_loop.h"
#include "platform/sim/link_model.h"
#include "platform/sim/virtual_tag.h"
#include "platform/tag_reader_session.h"
#include "platform/timing.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace wynfc {

// A tag of another kind than ISO 15693: it can be detected and connected, and holds
// nothing else.
struct ForeignTag {
    TagKind kind = TagKind::Other;
    Bytes identifier{};               // ISO 7816, MIFARE
    Bytes systemCode{};               // FeliCa
    Bytes idm{};                      // FeliCa
    std::string initialSelectedAid{}; // ISO 7816
    MifareFamily mifareFamily = MifareFamily::Unknown;
};

// Something a test holds into the reader's field.
using FieldTag = std::variant<std::shared_ptr<VirtualTag>, std::shared_ptr<const ForeignTag>>;

// How a session's sheet closed.
struct SheetEnding {
    enum class Reason {
        Success,       // invalidate(): the alert message shown as success
        ErrorMessage,  // invalidate(errorMessage)
        ClosedByUser,  // the user closed the sheet
        EndedBySystem, // the service ended the session with an error of its own
    };
    Reason reason = Reason::Success;
    std::string message; // the text the sheet showed last: alert, error message or error description
};

// One request a session received, answered or not, in the order received.
struct SessionOperation {
    enum class Kind { Connect, ReadBlocks, WriteBlock, SystemInfo };
    Kind kind = Kind::Connect;
    RequestFlags flags = 0;
    int firstBlock = 0; // the block number of a write
    int count = 0;
    Bytes data;
};

namespace sim_detail {
struct TagField;
class TagHandle;
struct SessionAccess;
} // namespace sim_detail

// A session of the simulated reader. Delegate callbacks and operation completions run
// on the service's session queue, in the order the session produced them.
//
// The invalidated callback carries kUserCanceled ("Session invalidated by user") both
// when the user closes the sheet and after the application's own invalidate calls, as
// real readers do; SimulatedTagReaderService::endSession passes its own error. Once
// ended, a session answers nothing more: operations the tag left unanswered are dropped
// and later ones complete with kSessionInvalidated.
class SimulatedTagReaderSession final : public TagReaderSession,
                                        public std::enable_shared_from_this<SimulatedTagReaderSession> {
public:
    SimulatedTagReaderSession(std::weak_ptr<sim_detail::TagField> field, PollingOptions polling,
                              std::weak_ptr<TagReaderSessionDelegate> delegate);

    void setAlertMessage(const std::string& text) override;
    void begin() override;
    void restartPolling() override;
    void connect(const std::shared_ptr<NfcTag>& tag, TagCompletion completion) override;
    void invalidate() override;
    void invalidate(const std::string& errorMessage) override;

    // What a user would see, and what the session was asked.
    std::string alertMessage() const;
    std::optional<SheetEnding> ending() const;
    bool isActive() const; // begun and not ended
    bool isPolling() const;
    PollingOptions pollingOptions() const { return pollingOptions_; }
    std::vector<SessionOperation> operations() const;

private:
    friend class SimulatedTagReaderService;
    friend struct sim_detail::SessionAccess;

    enum class State { Created, Active, Ended };
    struct PendingOperation {
        const void* tagKey;
        std::function<void(const NfcError&)> fail;
    };

    using DelegateCall =
        std::function<void(TagReaderSessionDelegate&, const std::shared_ptr<TagReaderSession>&)>;

    void offerTags(const std::vector<FieldTag>& tags);
    void tagRemoved(const void* tagKey);
    // Ends the session unless it has ended already (or, with onlyIfActive, unless it
    // shows no sheet). With no message the sheet keeps the alert message.
    bool end(SheetEnding::Reason reason, std::optional<std::string> message, NfcError error,
             bool onlyIfActive);

    void readBlocks(const sim_detail::TagHandle& handle, RequestFlags flags, BlockRange range,
                    ReadBlocksCompletion completion);
    void writeBlock(const sim_detail::TagHandle& handle, RequestFlags flags, int blockNumber, Bytes data,
                    TagCompletion completion);
    void systemInfo(const sim_detail::TagHandle& handle, RequestFlags flags, SystemInfoCompletion completion);
    // Why an operation on the tag cannot reach it, if it cannot.
    std::optional<NfcError> unreachableLocked(const sim_detail::TagHandle& handle) const;
    // A tag that has just left the field is taken out of it after the operation.
    void afterOperation(const std::shared_ptr<VirtualTag>& tag);
    void post(std::function<void()> task);
    // Posts an operation's answer, after the delay the service asked for, if any (block reads
    // and writes take it), and after the air time of the exchange when the service models it
    // (rfTime, given the model).
    void postAnswerLocked(std::function<void()> answer,
                          const std::function<Micros(const RfLinkModel&)>& rfTime = {},
                          bool takesPlannedDelay = true);
    void observe(const SessionOperation& operation);
    void notifyDelegateLocked(DelegateCall call);

    const std::weak_ptr<sim_detail::TagField> field_;
    const PollingOptions pollingOptions_;
    const std::weak_ptr<TagReaderSessionDelegate> delegate_;

    mutable std::mutex mutex_;
    State state_ = State::Created;
    bool isPolling_ = false;
    std::string alertMessage_;
    std::optional<SheetEnding> ending_;
    std::vector<const void*> detected_; // tags reported and still in the field
    const void* connected_ = nullptr;
    std::vector<PendingOperation> pending_; // operations the tag has not answered
    std::vector<SessionOperation> operations_;
};

// The machine's tag reader, simulated: a field that holds zero, one or several tags, and
// the sessions made over it. All sessions deliver on one serial queue of their own.
class SimulatedTagReaderService final : public TagReaderService {
public:
    SimulatedTagReaderService();
    // Stops the session queue (pending callbacks are dropped). Sessions still held by
    // others answer nothing more.
    ~SimulatedTagReaderService() override;

    SimulatedTagReaderService(const SimulatedTagReaderService&) = delete;
    SimulatedTagReaderService& operator=(const SimulatedTagReaderService&) = delete;

    bool readingAvailable() const override;
    // Every session detects every kind of tag, whatever the polling options; they are
    // recorded on the session.
    std::shared_ptr<TagReaderSession> makeSession(PollingOptions polling,
                                                  std::weak_ptr<TagReaderSessionDelegate> delegate) override;

    void setReadingAvailable(bool available);

    // Tags presented together are detected together by a polling session.
    void present(FieldTag tag);
    void present(std::vector<FieldTag> tags);
    // Operations pending on a removed tag, and later ones, fail with kTagConnectionLost.
    void remove(const FieldTag& tag);
    void removeAll();
    std::vector<FieldTag> tagsInField() const;

    // As the user closing the sheet: the current session ends with kUserCanceled.
    // False when no sheet is shown.
    bool closeSheet();
    // The system ends the current session with this error. False when there is none.
    bool endSession(NfcError error);
    // The next connect, in any session, fails with this error.
    void failNextConnect(NfcError error);
    // The next block read or write, in any session, is carried out at once but answered only
    // after the delay, as a tag that answers late; an answer due after its session ended is
    // dropped, as any other.
    void delayNextAnswer(Millis delay);
    // With a model of the tag's radio link (LinkModelKind::Nfc), every block read, block write
    // and system information is answered no sooner than its ISO 15693 exchange would take on
    // the air, and that time is added to the account.
    void setLinkModel(const LinkModel& model, std::shared_ptr<LinkAccount> account);

    // Called with each operation a session receives (connect, block read or write, system
    // information), before it is carried out, on the caller's thread with no lock of the
    // simulation held: it may inject a fault for this very operation, take the tag away or
    // close the sheet.
    using OperationObserver = std::function<void(const SessionOperation&)>;
    void setOperationObserver(OperationObserver observer);

    // The session made last, kept for inspection until the next one is made.
    std::shared_ptr<SimulatedTagReaderSession> currentSession() const;
    int sessionCount() const;

    EventLoop& queue();
    void waitIdle();

private:
    std::shared_ptr<sim_detail::TagField> field_;
};

} // namespace wynfc
