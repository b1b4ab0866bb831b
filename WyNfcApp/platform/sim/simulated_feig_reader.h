#pragma once

#include "platform/sim/link_model.h"
#include "platform/sim/simulated_radio.h"
#include "platform/sim/virtual_tag.h"
#include "platform/timing.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wynfc {

// How the simulated reader answers one request. Plans queue up: each request takes the
// next one, and a request with none queued gets a prompt, sound answer. Unless a plan says
// otherwise the request is carried out (a dropped or delayed answer to a write has still
// written the tag).
struct FeigAnswerPlan {
    bool drop = false;             // no answer at all
    bool late = false;             // held back, sent when the next request arrives, before its answer
    bool delayPastTheWait = false; // sent after Timing::countdownLimit() plus one tick
    Millis delay{0};               // sent after this long
    bool corruptCrc = false;       // the answer's CRC does not match
    // This notification of the answer (counted from 0) never reaches the central.
    std::optional<std::size_t> lostNotification;
    // Answer with this status and no data, without carrying out the request.
    std::optional<std::uint8_t> status;
    // Sizes of the answer's first notifications (0 sends an empty one); the rest goes out
    // in notifications of the usual size.
    std::vector<std::size_t> notificationSizes;
    bool disconnect = false; // the reader drops the connection instead of answering

    // The plans with one fault each; set more fields to combine them.
    static FeigAnswerPlan dropped() { return with(&FeigAnswerPlan::drop); }
    static FeigAnswerPlan sentLate() { return with(&FeigAnswerPlan::late); }
    static FeigAnswerPlan delayedPastTheWait() { return with(&FeigAnswerPlan::delayPastTheWait); }
    static FeigAnswerPlan withCorruptCrc() { return with(&FeigAnswerPlan::corruptCrc); }
    static FeigAnswerPlan disconnecting() { return with(&FeigAnswerPlan::disconnect); }
    static FeigAnswerPlan delayed(Millis by) {
        FeigAnswerPlan plan;
        plan.delay = by;
        return plan;
    }
    static FeigAnswerPlan withStatus(std::uint8_t errorStatus) {
        FeigAnswerPlan plan;
        plan.status = errorStatus;
        return plan;
    }
    static FeigAnswerPlan losing(std::size_t notification) {
        FeigAnswerPlan plan;
        plan.lostNotification = notification;
        return plan;
    }
    static FeigAnswerPlan splitInto(std::vector<std::size_t> sizes) {
        FeigAnswerPlan plan;
        plan.notificationSizes = std::move(sizes);
        return plan;
    }

private:
    static FeigAnswerPlan with(bool FeigAnswerPlan::*flag) {
        FeigAnswerPlan plan;
        plan.*flag = true;
        return plan;
    }
};

// Name and advertisement of a simulated reader; the defaults are the real reader's service.
struct FeigReaderIdentity {
    std::string identifier = "5E1F0000-0000-4000-8000-000000000001";
    std::optional<std::string> name = "Simulated NFC reader";
    // Texts as advertised: tests may list the service in upper case, or add other entries.
    std::optional<std::vector<std::string>> advertisedServiceUuids =
        std::vector<std::string>{"2d8f4660-8acb-11ea-ab12-0800200c9a66"};
};

// A simulated Bluetooth NFC reader. It offers the reader service with the transfer
// characteristic (written with response, notifies) and a second characteristic (notifies),
// takes one request frame per write, and answers on the transfer characteristic with one
// response frame, split into notifications.
//
// Requests (reader form of the ISO 15693 commands, non-addressed mode):
//   inventory            0xB0 0x01 0x00            data: count, then per tag: type 0x03, DSFID, UID
//   read multiple blocks 0xB0 0x23 0x00 first n    data: n, 4, per block: security status, bytes last first
//   write multiple blocks 0xB0 0x24 0x00 first n 0x04 data (each block last byte first)
// The inventory reports every tag in the field, in the order put there, with the UID in
// the order the tag reports it. Reads and writes go to the first tag in the field (the one
// put there first that has not left it). Statuses are those of platform/sim/feig_frame.h.
//
// Thread-safe. Tests put tags into and out of its field, plan the answers, and read back
// the requests received.
class SimulatedFeigReader final : public SimulatedDevice {
public:
    static constexpr std::string_view kServiceUuid = "2d8f4660-8acb-11ea-ab12-0800200c9a66";
    static constexpr std::string_view kTransferCharacteristicUuid = "2d8f4661-8acb-11ea-ab12-0800200c9a66";
    static constexpr std::string_view kSecondCharacteristicUuid = "2d8f4662-8acb-11ea-ab12-0800200c9a66";
    static constexpr std::size_t kDefaultNotificationSize = 20;

    explicit SimulatedFeigReader(Timing timing = {}, FeigReaderIdentity identity = {});

    // The field.
    void putTag(std::shared_ptr<VirtualTag> tag);
    void removeTag(const std::shared_ptr<VirtualTag>& tag);
    void clearField();

    // Answers.
    void setNotificationSize(std::size_t size); // at least 1
    // Answers go out on this characteristic: the transfer one by default, or the second.
    void setAnswerCharacteristic(std::string uuid);
    void planNextAnswer(FeigAnswerPlan plan);
    // Sends the bytes as one notification of the answer characteristic, now.
    void sendNotification(Bytes value);
    // With a model of the Bluetooth link, each answer goes out no sooner than the link and
    // the reader's own exchange with the tag allow, on top of any planned delay, and the
    // modelled time of every answered request is added to the account.
    void setLinkModel(const LinkModel& model, std::shared_ptr<LinkAccount> account);

    // Called with each request as it arrives (counted from 0), before it is answered, on
    // the writer's thread with no lock of the reader held: it may plan this very request's
    // answer, change the field, disconnect, or switch the radio off.
    using RequestObserver = std::function<void(std::size_t index, const Bytes& request)>;
    void setRequestObserver(RequestObserver observer);

    // Every value written to the reader so far, in order.
    std::vector<Bytes> requests() const;
    // Waits until at least `count` requests have arrived; false when the timeout passed first.
    bool waitForRequests(std::size_t count, Millis timeout) const;

protected:
    void onWrite(ConnectionId connection, const std::string& characteristicUuid, const Value& value) override;
    void onDisconnected(ConnectionId connection) override;

private:
    Bytes answerLocked(const Bytes& request);
    Bytes inventoryLocked(const Bytes& hostCommand);
    Bytes readBlocksLocked(const Bytes& hostCommand);
    Bytes systemInformationLocked(const Bytes& hostCommand);
    Bytes writeBlocksLocked(const Bytes& hostCommand);
    std::shared_ptr<VirtualTag> tagInFieldLocked() const;
    std::vector<Bytes> splitLocked(const Bytes& answer, const std::vector<std::size_t>& firstSizes) const;

    const Timing timing_;

    mutable std::mutex mutex_;
    mutable std::condition_variable requestArrived_;
    std::vector<std::shared_ptr<VirtualTag>> field_;
    std::size_t notificationSize_ = kDefaultNotificationSize;
    std::string answerCharacteristic_{kTransferCharacteristicUuid};
    std::deque<FeigAnswerPlan> plans_;
    std::optional<std::vector<Bytes>> heldAnswer_;
    std::vector<Bytes> requests_;
    RequestObserver observer_;
    LinkModel linkModel_;
    std::shared_ptr<LinkAccount> linkAccount_;
};

} // namespace wynfc
