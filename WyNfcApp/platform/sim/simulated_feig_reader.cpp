#include "platform/sim/simulated_feig_reader.h"

#include "platform/sim/feig_frame.h"

#include <algorithm>
#include <utility>

namespace wynfc {

namespace {

std::vector<SimulatedGattService> readerServices() {
    CharacteristicProperties transfer;
    transfer.write = true;
    transfer.notify = true;
    CharacteristicProperties second;
    second.notify = true;
    return {{std::string(SimulatedFeigReader::kServiceUuid),
             {{std::string(SimulatedFeigReader::kTransferCharacteristicUuid), transfer},
              {std::string(SimulatedFeigReader::kSecondCharacteristicUuid), second}}}};
}

std::uint8_t statusOf(TagAnswer answer) {
    switch (answer) {
    case TagAnswer::Ok:
        return feig::kStatusOk;
    case TagAnswer::BlockOutOfRange:
        return feig::kStatusBlockOutOfRange;
    case TagAnswer::BlockProtected:
        return feig::kStatusBlockProtected;
    case TagAnswer::Failed:
        return feig::kStatusTagError;
    case TagAnswer::NoAnswer: // the reader gives up on a silent tag
    case TagAnswer::Gone:
        return feig::kStatusNoTag;
    }
    return feig::kStatusTagError;
}

// The command code an answer repeats: the request's, where it has one.
std::uint8_t answeredCommand(const Bytes& request) {
    return request.size() > 4 ? request[4] : feig::kIsoHostCommand;
}

// The reader's own exchange with the tag for one request, in ISO 15693 frames (non-addressed,
// flags and CRC included): an inventory of one slot, Read Multiple Blocks with each block's
// security status, Get System Information, and a write as one Write Single Block per block.
Micros tagExchangeTime(const RfLinkModel& rf, const Bytes& request) {
    const feig::CheckedRequest checked = feig::checkRequestFrame(request);
    const Bytes& host = checked.hostCommand;
    if (checked.status != feig::kStatusOk || host.size() < 3 || host[0] != feig::kIsoHostCommand) {
        return Micros{0}; // refused by the reader itself
    }
    switch (host[1]) {
    case feig::kInventory:
        return rf.inventory();
    case feig::kReadMultipleBlocks: {
        const std::size_t count = host.size() > 4 ? host[4] : 1;
        return rf.readMultipleBlocks(count, feig::kBlockSize, true);
    }
    case feig::kWriteMultipleBlocks: {
        const std::size_t count = host.size() > 4 ? host[4] : 1;
        return rf.writeSingleBlock(feig::kBlockSize) * static_cast<Micros::rep>(count);
    }
    case feig::kGetSystemInformation:
        return rf.getSystemInformation();
    default:
        return Micros{0};
    }
}

} // namespace

SimulatedFeigReader::SimulatedFeigReader(Timing timing, FeigReaderIdentity identity)
    : SimulatedDevice(std::move(identity.identifier), identity.name,
                      AdvertisementData{identity.name, std::move(identity.advertisedServiceUuids)},
                      readerServices()),
      timing_(timing) {}

void SimulatedFeigReader::putTag(std::shared_ptr<VirtualTag> tag) {
    std::lock_guard lock(mutex_);
    if (tag && std::find(field_.begin(), field_.end(), tag) == field_.end()) {
        field_.push_back(std::move(tag));
    }
}

void SimulatedFeigReader::removeTag(const std::shared_ptr<VirtualTag>& tag) {
    std::lock_guard lock(mutex_);
    std::erase(field_, tag);
}

void SimulatedFeigReader::clearField() {
    std::lock_guard lock(mutex_);
    field_.clear();
}

void SimulatedFeigReader::setNotificationSize(std::size_t size) {
    std::lock_guard lock(mutex_);
    notificationSize_ = std::max<std::size_t>(size, 1);
}

void SimulatedFeigReader::setAnswerCharacteristic(std::string uuid) {
    std::lock_guard lock(mutex_);
    answerCharacteristic_ = std::move(uuid);
}

void SimulatedFeigReader::planNextAnswer(FeigAnswerPlan plan) {
    std::lock_guard lock(mutex_);
    plans_.push_back(std::move(plan));
}

void SimulatedFeigReader::sendNotification(Bytes value) {
    const auto connection = currentConnection();
    if (!connection) {
        return;
    }
    std::lock_guard lock(mutex_);
    notify(*connection, answerCharacteristic_, {std::move(value)});
}

std::vector<Bytes> SimulatedFeigReader::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool SimulatedFeigReader::waitForRequests(std::size_t count, Millis timeout) const {
    std::unique_lock lock(mutex_);
    return requestArrived_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void SimulatedFeigReader::setLinkModel(const LinkModel& model, std::shared_ptr<LinkAccount> account) {
    std::lock_guard lock(mutex_);
    linkModel_ = model;
    linkAccount_ = std::move(account);
}

void SimulatedFeigReader::setRequestObserver(RequestObserver observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

void SimulatedFeigReader::onWrite(ConnectionId connection, const std::string& /*characteristicUuid*/,
                                  const Value& value) {
    std::unique_lock lock(mutex_);
    const std::size_t index = requests_.size();
    requests_.push_back(value);
    requestArrived_.notify_all();
    if (const RequestObserver observer = observer_) {
        lock.unlock();
        observer(index, value);
        lock.lock();
    }
    FeigAnswerPlan plan;
    if (!plans_.empty()) {
        plan = std::move(plans_.front());
        plans_.pop_front();
    }
    if (heldAnswer_) {
        notify(connection, answerCharacteristic_, std::move(*heldAnswer_));
        heldAnswer_.reset();
    }
    if (plan.disconnect) {
        lock.unlock(); // the disconnection calls back into onDisconnected
        disconnect();
        return;
    }

    Bytes answer =
        plan.status ? feig::responseFrame(answeredCommand(value), *plan.status, {}) : answerLocked(value);
    if (plan.corruptCrc) {
        answer.back() ^= 0xFF;
    }
    std::vector<Bytes> notifications = splitLocked(answer, plan.notificationSizes);
    if (plan.lostNotification && *plan.lostNotification < notifications.size()) {
        notifications.erase(notifications.begin() + static_cast<std::ptrdiff_t>(*plan.lostNotification));
    }
    if (plan.drop) {
        return;
    }
    if (plan.late) {
        heldAnswer_ = std::move(notifications);
        return;
    }
    Millis delay = plan.delayPastTheWait ? timing_.countdownLimit() + timing_.countdownTick : plan.delay;
    if (linkModel_.modelsBle()) {
        const Micros linkTime = linkModel_.ble.exchange(answer.size(), tagExchangeTime(linkModel_.rf, value));
        delay += std::chrono::ceil<Millis>(linkTime);
        if (linkAccount_) {
            linkAccount_->add(linkTime);
        }
    }
    notify(connection, answerCharacteristic_, std::move(notifications), delay);
}

void SimulatedFeigReader::onDisconnected(ConnectionId /*connection*/) {
    std::lock_guard lock(mutex_);
    heldAnswer_.reset(); // an answer never outlives its connection
}

Bytes SimulatedFeigReader::answerLocked(const Bytes& request) {
    const feig::CheckedRequest checked = feig::checkRequestFrame(request);
    if (checked.status != feig::kStatusOk) {
        return feig::responseFrame(answeredCommand(request), checked.status, {});
    }
    const Bytes& host = checked.hostCommand;
    if (host[0] != feig::kIsoHostCommand) {
        return feig::responseFrame(host[0], feig::kStatusUnknownCommand, {});
    }
    if (host.size() < 3) {
        return feig::responseFrame(host[0], feig::kStatusLengthError, {});
    }
    if (host[2] != feig::kModeNonAddressed) {
        return feig::responseFrame(host[0], feig::kStatusUnknownCommand, {});
    }
    switch (host[1]) {
    case feig::kInventory:
        return inventoryLocked(host);
    case feig::kReadMultipleBlocks:
        return readBlocksLocked(host);
    case feig::kWriteMultipleBlocks:
        return writeBlocksLocked(host);
    case feig::kGetSystemInformation:
        return systemInformationLocked(host);
    default:
        return feig::responseFrame(host[0], feig::kStatusUnknownCommand, {});
    }
}

Bytes SimulatedFeigReader::inventoryLocked(const Bytes& host) {
    if (host.size() != 3) {
        return feig::responseFrame(feig::kIsoHostCommand, feig::kStatusLengthError, {});
    }
    Bytes data{0};
    for (const auto& tag : field_) {
        if (tag->hasLeftField() || data[0] == 0xFF) {
            continue;
        }
        ++data[0];
        data.push_back(feig::kTransponderIso15693);
        data.push_back(0x00); // DSFID
        data.insert(data.end(), tag->uid().begin(), tag->uid().end());
    }
    if (data[0] == 0) {
        return feig::responseFrame(feig::kIsoHostCommand, feig::kStatusNoTag, {});
    }
    return feig::responseFrame(feig::kIsoHostCommand, feig::kStatusOk, data);
}

Bytes SimulatedFeigReader::readBlocksLocked(const Bytes& host) {
    if (host.size() != 5 || host[4] == 0) {
        return feig::responseFrame(feig::kIsoHostCommand, feig::kStatusLengthError, {});
    }
    const int first = host[3];
    const int count = host[4];
    const auto tag = tagInFieldLocked();
    if (!tag) {
        return feig::responseFrame(feig::kIsoHostCommand, feig::kStatusNoTag, {});
    }
    const VirtualTag::ReadReply reply = tag->readBlocks(first, count);
    if (reply.answer != TagAnswer::Ok) {
        return feig::responseFrame(feig::kIsoHostCommand, statusOf(reply.answer), {});
    }
    Bytes data{static_cast<std::uint8_t>(count), feig::kBlockSize};
    for (int i = 0; i < count; ++i) {
        const Bytes& block = reply.blocks.at(static_cast<std::size_t>(i));
        data.push_back(tag->isProtected(first + i) ? 0x01 : 0x00); // security status: locked or not
        data.insert(data.end(), block.rbegin(), block.rend());
    }
    return feig::responseFrame(feig::kIsoHostCommand, feig::kStatusOk, data);
}

Bytes SimulatedFeigReader::systemInformationLocked(const Bytes& host) {
    if (host.size() != 3) {
        return feig::responseFrame(feig::kIsoHostCommand, feig::kStatusLengthError, {});
    }
    const auto tag = tagInFieldLocked();
    if (!tag) {
        return feig::responseFrame(feig::kIsoHostCommand, feig::kStatusNoTag, {});
    }
    Bytes data{0x00}; // DSFID
    data.insert(data.end(), tag->uid().begin(), tag->uid().end());
    data.push_back(0x00); // AFI
    data.push_back(static_cast<std::uint8_t>(std::min(tag->blockCount(), 256) - 1));
    data.push_back(feig::kBlockSize - 1);
    data.push_back(0x00); // IC reference
    return feig::responseFrame(feig::kIsoHostCommand, feig::kStatusOk, data);
}

Bytes SimulatedFeigReader::writeBlocksLocked(const Bytes& host) {
    if (host.size() < 6 || host[4] == 0 || host[5] != feig::kBlockSize ||
        host.size() != 6 + std::size_t{host[4]} * feig::kBlockSize) {
        return feig::responseFrame(feig::kIsoHostCommand, feig::kStatusLengthError, {});
    }
    const auto tag = tagInFieldLocked();
    if (!tag) {
        return feig::responseFrame(feig::kIsoHostCommand, feig::kStatusNoTag, {});
    }
    // Each block travels last byte first; the tag stores it in its natural order.
    Bytes data(host.begin() + 6, host.end());
    for (auto block = data.begin(); block != data.end(); block += feig::kBlockSize) {
        std::reverse(block, block + feig::kBlockSize);
    }
    return feig::responseFrame(feig::kIsoHostCommand, statusOf(tag->writeBlocks(host[3], data)), {});
}

std::shared_ptr<VirtualTag> SimulatedFeigReader::tagInFieldLocked() const {
    for (const auto& tag : field_) {
        if (!tag->hasLeftField()) {
            return tag;
        }
    }
    return nullptr;
}

std::vector<Bytes> SimulatedFeigReader::splitLocked(const Bytes& answer,
                                                    const std::vector<std::size_t>& firstSizes) const {
    std::vector<Bytes> notifications;
    std::size_t offset = 0;
    for (const std::size_t size : firstSizes) {
        const std::size_t end = std::min(answer.size(), offset + size);
        notifications.emplace_back(answer.begin() + static_cast<std::ptrdiff_t>(offset),
                                   answer.begin() + static_cast<std::ptrdiff_t>(end));
        offset = end;
    }
    while (offset < answer.size()) {
        const std::size_t end = std::min(answer.size(), offset + notificationSize_);
        notifications.emplace_back(answer.begin() + static_cast<std::ptrdiff_t>(offset),
                                   answer.begin() + static_cast<std::ptrdiff_t>(end));
        offset = end;
    }
    return notifications;
}

} // namespace wynfc
