#pragma once

// How long the radio links of a real reader take, so that the simulation can answer no sooner
// than a real reader and tag would, and a job can be held to the time the links alone need.
// Off by default: the simulation then answers at once.

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace wynfc {

using Micros = std::chrono::microseconds;

// ISO 15693 at the high data rate: the reader's requests 1-out-of-4 coded, the tag's answers on
// one subcarrier, both 26.48 kbit/s (a bit every 512 carrier cycles of 13.56 MHz). Frame
// lengths count the whole frame on the air: flags, command, parameters, data and CRC.
struct RfLinkModel {
    // The tag's answer begins this long after the request's end (t1, 4352 carrier cycles).
    Micros responseDelay{321};
    // A block write answers only once the block is programmed.
    Micros blockProgramming{5000};

    // The request's air time, start and end of frame included.
    Micros request(std::size_t frameBytes) const;
    // The answer's air time, start and end of frame included.
    Micros answer(std::size_t frameBytes) const;
    // One whole exchange: request, the tag's delay (and programming time), answer.
    Micros exchange(std::size_t requestBytes, std::size_t answerBytes, bool programs = false) const;

    // The commands the readers send, non-addressed. With securityStatus the tag puts each
    // block's security status byte before its data.
    Micros inventory() const;
    Micros readSingleBlock(std::size_t blockBytes, bool securityStatus = false) const;
    Micros readMultipleBlocks(std::size_t count, std::size_t blockBytes, bool securityStatus = false) const;
    Micros writeSingleBlock(std::size_t blockBytes) const;
    Micros getSystemInformation() const;
};

// Bluetooth LE between the computer and the reader: connection events every
// connectionInterval, a notification carries at most notificationBytes, and a connection event
// takes at most packetsPerEvent of them.
struct BleLinkModel {
    Micros connectionInterval{30000};
    std::size_t notificationBytes = 20;
    std::size_t packetsPerEvent = 4;

    // Notifications needed for an answer of this many bytes.
    std::size_t notifications(std::size_t answerBytes) const;
    // From the write of a request to the last notification of its answer, the reader working
    // readerTime in between. The request goes out at the next connection event (counted as a
    // whole interval) and is acknowledged at the one after; the answer starts at the first
    // connection event after the reader's work and takes one more event per packetsPerEvent
    // notifications. At least the two events a written request costs.
    Micros exchange(std::size_t answerBytes, Micros readerTime) const;
};

// Which link the simulation models.
enum class LinkModelKind { None, Ble, Nfc };

std::string_view linkModelName(LinkModelKind kind);
// "ble", "nfc" or "none"; nothing for any other text.
std::optional<LinkModelKind> linkModelFromName(std::string_view name);

struct LinkModel {
    LinkModelKind kind = LinkModelKind::None;
    BleLinkModel ble;
    RfLinkModel rf;

    // The simulated Bluetooth reader: its link to the computer and its own exchange with the tag.
    bool modelsBle() const { return kind == LinkModelKind::Ble; }
    // The simulated directly attached reader: its exchange with the tag.
    bool modelsNfc() const { return kind == LinkModelKind::Nfc; }
};

// The modelled link time of every exchange since the last reset, added by the simulated
// readers (on their own threads) and read by whoever measures a job.
class LinkAccount {
public:
    struct Totals {
        Micros linkTime{0};
        std::size_t exchanges = 0;
    };

    void add(Micros linkTime);
    Totals totals() const;
    void reset();

private:
    mutable std::mutex mMutex;
    Totals mTotals;
};

} // namespace wynfc
