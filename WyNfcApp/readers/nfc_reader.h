#pragma once

#include "platform/bytes.h"
#include "platform/nfc_tag.h"
#include "platform/tag_reader_session.h"
#include "platform/timing.h"
#include "readers/reader_contract.h"
#include "readers/response_countdown.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace wynfc {

// The transport over the machine's own tag reader: a tag reader session finds the driver's
// ISO 15693 tag, areas are read with one multiple-block read and written back one 4-byte
// block at a time. Decoding and merging are the library's work.
//
// Sessions keep only a weak reference to their delegate: create readers with
// std::make_shared, or no session event will reach them.
//
// Threads: startScan, finishSession and abortSession may be called from any thread (the
// main queue in the application). readByName, writeByName and writeBlock block their
// caller until the answer or the countdown's timeout: call them from a worker, never from
// the main queue or the session's queue. Session callbacks and completions run on the
// session's queue. Events reach the receiver on whichever thread produced them.
class NfcReader final : public IReader,
                        public TagReaderSessionDelegate,
                        public std::enable_shared_from_this<NfcReader> {
public:
    static constexpr const char* kLogTag = "------ NfcReader ------";

    NfcReader(std::shared_ptr<TagReaderService> service, Timing timing);

    NfcReader(const NfcReader&) = delete;
    NfcReader& operator=(const NfcReader&) = delete;

    // Starts a new session (a previous one is dropped) that polls for ISO 15693 tags.
    // Events follow: "OPEND" once the session runs, "DETECTED" once a tag is connected.
    void startScan(std::weak_ptr<ResponseToReaderDelegate> receiver, bool isWriteMode) override;

    // "SCAN_NFC": OK at once (the session itself finds the tag). Another name: the area's
    // blocks, decoded. An error is absent when the read's wait timed out.
    ResultObj readByName(const std::string& name) override;

    // Reads the area, merges the values into its bytes and writes them back block by block.
    // OK carries the data "null".
    ResultObj writeByName(const std::string& name, const std::string& json) override;

    // Writes one 4-byte block of the connected tag and waits for the answer.
    ResultObj writeBlock(int blockNumber, const Bytes& blockBytes);

    // Ends the current session showing the message, as success or as failure.
    void finishSession(const std::string& message, bool success);

    // Releases a pending block write (it fails) and ends the current session as failed,
    // showing the message.
    void abortSession(const std::string& message);

    // The write flag given to the last startScan.
    bool isWriteMode() const;

    // The connected tag's identifier.
    std::optional<Bytes> tagUid() const override;

    void tagReaderSessionDidBecomeActive(const std::shared_ptr<TagReaderSession>& session) override;
    void tagReaderSessionDidDetect(const std::shared_ptr<TagReaderSession>& session,
                                   const std::vector<std::shared_ptr<NfcTag>>& tags) override;
    void tagReaderSessionDidInvalidateWithError(const std::shared_ptr<TagReaderSession>& session,
                                                const NfcError& error) override;

private:
    struct Connection {
        std::shared_ptr<Iso15693Tag> tag;
        std::shared_ptr<TagReaderSession> session;
    };

    void tagConnected(const std::shared_ptr<TagReaderSession>& session, const std::shared_ptr<NfcTag>& tag,
                      const std::optional<NfcError>& error);

    // Completions of a block read or write; `sequence` names the wait they belong to.
    void blockReadCompleted(std::uint64_t sequence, std::vector<Bytes> blocks,
                            const std::optional<NfcError>& error);
    void blockWriteCompleted(std::uint64_t sequence, const std::optional<NfcError>& error);
    bool isAwaitedRead(std::uint64_t sequence);
    bool isAwaitedWrite(std::uint64_t sequence);

    Connection currentConnection() const;
    std::shared_ptr<TagReaderSession> currentTagSession() const;
    // Ends the current session, if there is one, with the error message.
    void endCurrentSession(const std::string& errorMessage);
    void sendEvent(const std::string& event, const std::optional<std::string>& message = std::nullopt,
                   bool isError = true);

    const std::shared_ptr<TagReaderService> mService;
    const ResponseCountdown mCountdown;

    // Session state, touched by the caller's thread, the session's queue and workers.
    mutable std::mutex mSessionLock;
    std::shared_ptr<TagReaderSession> mTagSession;
    std::shared_ptr<TagReaderSession> mCurrentTagSession;
    std::shared_ptr<Iso15693Tag> mCurrentTag;
    bool mIsWriteMode = false;
    std::weak_ptr<ResponseToReaderDelegate> mBindResponseDelegate;

    // The pending block read. A completion counts only while its wait is the one awaited
    // (mFrameAwaited): a read that answers after its wait gave up cannot answer a later one.
    std::mutex mFrameLock;
    std::condition_variable mFrameAnswered;
    bool mFrameResponseCompleted = false;
    Bytes mFrameBytes;
    std::uint64_t mFrameSequence = 0;
    std::uint64_t mFrameAwaited = 0;                 // 0: no read waits
    std::shared_ptr<TagReaderSession> mFrameSession; // where the awaited read was sent

    // The pending block write, guarded the same way.
    std::mutex mWriteLock;
    std::condition_variable mWriteAnswered;
    bool mWriteCompleted = false;
    bool mWriteHasError = true;
    std::uint64_t mWriteSequence = 0;
    std::uint64_t mWriteAwaited = 0;                 // 0: no write waits
    std::shared_ptr<TagReaderSession> mWriteSession; // where the awaited write was sent
};

} // namespace wynfc
