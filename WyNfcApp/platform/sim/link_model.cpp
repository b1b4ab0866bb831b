#include "platform/sim/link_model.h"

#include <algorithm>

namespace wynfc {

namespace {

// Carrier cycles of 13.56 MHz, kept as cycles until the end so that no rounding adds up.
constexpr long long kCarrierHz = 13'560'000;
constexpr long long kCyclesPerBit = 512;        // 26.48 kbit/s, either way
constexpr long long kRequestStartCycles = 1024; // 75.52 µs, 1-out-of-4 coding
constexpr long long kRequestEndCycles = 512;    // 37.76 µs
constexpr long long kAnswerStartCycles = 2048;  // 151.04 µs, high data rate, one subcarrier
constexpr long long kAnswerEndCycles = 2048;    // 151.04 µs

Micros fromCycles(long long cycles) {
    // Rounded up: the model never promises a link faster than the air allows.
    return Micros{(cycles * 1'000'000 + kCarrierHz - 1) / kCarrierHz};
}

long long bitCycles(std::size_t frameBytes) {
    return static_cast<long long>(frameBytes) * 8 * kCyclesPerBit;
}

// Every frame carries its flags byte and a two-byte CRC around the command's own bytes.
constexpr std::size_t kFrameOverhead = 3;

std::size_t divideRoundingUp(std::size_t count, std::size_t per) {
    return per == 0 ? count : (count + per - 1) / per;
}

} // namespace

Micros RfLinkModel::request(std::size_t frameBytes) const {
    return fromCycles(kRequestStartCycles + bitCycles(frameBytes) + kRequestEndCycles);
}

Micros RfLinkModel::answer(std::size_t frameBytes) const {
    return fromCycles(kAnswerStartCycles + bitCycles(frameBytes) + kAnswerEndCycles);
}

Micros RfLinkModel::exchange(std::size_t requestBytes, std::size_t answerBytes, bool programs) const {
    return request(requestBytes) + responseDelay + (programs ? blockProgramming : Micros{0}) +
           answer(answerBytes);
}

Micros RfLinkModel::inventory() const {
    // One slot: command and mask length; the answer's DSFID and UID.
    return exchange(kFrameOverhead + 2, kFrameOverhead + 1 + 8);
}

Micros RfLinkModel::readSingleBlock(std::size_t blockBytes, bool securityStatus) const {
    // Command and block number.
    return exchange(kFrameOverhead + 2, kFrameOverhead + (securityStatus ? 1 : 0) + blockBytes);
}

Micros RfLinkModel::readMultipleBlocks(std::size_t count, std::size_t blockBytes, bool securityStatus) const {
    // Command, first block and count.
    return exchange(kFrameOverhead + 3, kFrameOverhead + count * ((securityStatus ? 1 : 0) + blockBytes));
}

Micros RfLinkModel::writeSingleBlock(std::size_t blockBytes) const {
    // Command, block number and data; the answer is flags alone, after the programming time.
    return exchange(kFrameOverhead + 2 + blockBytes, kFrameOverhead, true);
}

Micros RfLinkModel::getSystemInformation() const {
    // Information flags, UID, DSFID, AFI, memory size, IC reference.
    return exchange(kFrameOverhead + 1, kFrameOverhead + 14);
}

std::size_t BleLinkModel::notifications(std::size_t answerBytes) const {
    return std::max<std::size_t>(1, divideRoundingUp(answerBytes, notificationBytes));
}

Micros BleLinkModel::exchange(std::size_t answerBytes, Micros readerTime) const {
    const auto interval = connectionInterval.count();
    if (interval <= 0) {
        return readerTime;
    }
    // Events counted from the write: the request goes out at event 1 and the reader works from
    // there; its answer starts at the first event after that work (event 1 + workEvents) and
    // its last notification goes out answerEvents - 1 events later. The write's acknowledgement
    // (event 2) is never later than that, since the reader's work takes some time.
    const auto workEvents = static_cast<long long>(
        divideRoundingUp(static_cast<std::size_t>(std::max<Micros::rep>(readerTime.count(), 1)),
                         static_cast<std::size_t>(interval)));
    const auto answerEvents =
        static_cast<long long>(divideRoundingUp(notifications(answerBytes), packetsPerEvent));
    const long long events = workEvents + answerEvents;
    return Micros{events * interval};
}

std::string_view linkModelName(LinkModelKind kind) {
    switch (kind) {
    case LinkModelKind::Ble:
        return "ble";
    case LinkModelKind::Nfc:
        return "nfc";
    case LinkModelKind::None:
        break;
    }
    return "none";
}

std::optional<LinkModelKind> linkModelFromName(std::string_view name) {
    for (const LinkModelKind kind : {LinkModelKind::None, LinkModelKind::Ble, LinkModelKind::Nfc}) {
        if (name == linkModelName(kind)) {
            return kind;
        }
    }
    return std::nullopt;
}

void LinkAccount::add(Micros linkTime) {
    std::lock_guard lock(mMutex);
    mTotals.linkTime += linkTime;
    ++mTotals.exchanges;
}

LinkAccount::Totals LinkAccount::totals() const {
    std::lock_guard lock(mMutex);
    return mTotals;
}

void LinkAccount::reset() {
    std::lock_guard lock(mMutex);
    mTotals = {};
}

} // namespace wynfc
