// A stream of notifications from the Bluetooth reader, assembled into answers by the real
// BleReader: each exchange is one command (sendAndWait) whose notifications arrive while it
// waits.
//
// Input: records, each a header byte and what it announces:
//   0x00..0xEF   a notification of that many bytes (fewer at the end of the input)
//   0xF0 r       the exchange so far is done: send request r (fuzz/ble_requests.h, modulo
//                their count), receive its notifications, take the answer
//   0xF1         the notifications so far arrive late: while no command waits for them
//   0xF2 hi lo   a notification of (hi << 8 | lo) bytes
//   0xF3..0xFF   an empty notification
// The notifications left at the end make a last exchange, of request 1.
//
// Checked for every exchange:
//   - a parsed answer is a whole frame that came in this exchange's notifications: it starts
//     at one notification, ends with another, opens like a reader frame, holds as many bytes
//     as its length field says and ends in its CRC (checked with the simulator's CRC, not the
//     library's), and has the form of an answer to the command sent (canAnswer);
//   - an error answer carries the status of a notification of this exchange that opened a
//     frame; late notifications never become the answer to a later command;
//   - notifications that together are exactly one sound frame of the command's form are
//     taken as that frame;
//   - block data unpacked from an answer is never longer than the answer's data.
// A command the reader sends on its own before the planned one (an inventory, when an earlier
// command like it went unanswered) gets a sound inventory answer.
// After every input the reader still takes a sound answer split over notifications.

#include "ble_requests.h"
#include "platform/console_log.h"
#include "platform/sim/feig_frame.h"
#include "platform/sim/simulated_radio.h"
#include "readers/ble_reader.h"
#include "readers/ble_response_frame.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

namespace {

using namespace wynfc;

constexpr const char* kServiceUuid = "2d8f4660-8acb-11ea-ab12-0800200c9a66";
constexpr const char* kTransferUuid = "2d8f4661-8acb-11ea-ab12-0800200c9a66";

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "ble_notifications: %s\n", what);
    std::abort();
}

// A reader device that answers the planned request by handing its notifications straight to
// the BleReader, on the writer's thread, before the writer starts to wait: the exchange is the
// same whatever the threads do, so every input replays exactly.
class ScriptedReader final : public SimulatedDevice {
public:
    using Answer = std::function<void(const Bytes& request)>;

    ScriptedReader()
        : SimulatedDevice("5E1F0000-0000-4000-8000-0000000000F2", "Fuzzed NFC reader",
                          AdvertisementData{"Fuzzed NFC reader", std::vector<std::string>{kServiceUuid}},
                          services()) {}

    void plan(Answer answer) {
        std::lock_guard lock(mMutex);
        mAnswer = std::move(answer);
    }

protected:
    void onWrite(ConnectionId, const std::string&, const Value& value) override {
        Answer answer;
        {
            std::lock_guard lock(mMutex);
            answer = mAnswer;
        }
        if (answer) {
            answer(value);
        }
    }

private:
    static std::vector<SimulatedGattService> services() {
        CharacteristicProperties transfer;
        transfer.write = true;
        transfer.notify = true;
        return {{kServiceUuid, {{kTransferUuid, transfer}}}};
    }

    std::mutex mMutex;
    Answer mAnswer;
};

// The main queue, run by hand on the fuzzing thread: its tasks run when drained, between
// exchanges, so that one input runs on one thread and replays exactly. While it drains, the
// fuzzing thread is the main thread; otherwise it is a worker (sendAndWait refuses the main
// thread), and sync runs its task inline, as the main thread's would.
class ManualQueue final : public MainQueue {
public:
    void async(Task task) override { mTasks.push_back(std::move(task)); }
    bool sync(Task task) override {
        const bool draining = std::exchange(mDraining, true);
        task();
        mDraining = draining;
        return true;
    }
    void after(Millis, Task task) override { mTasks.push_back(std::move(task)); }
    bool isMainThread() const override { return mDraining; }

    void drain() {
        mDraining = true;
        while (!mTasks.empty()) {
            Task task = std::move(mTasks.front());
            mTasks.pop_front();
            task();
        }
        mDraining = false;
    }

private:
    std::deque<Task> mTasks;
    bool mDraining = false;
};

struct Rig {
    // The countdown ends at once: every notification has come before the wait begins.
    Timing timing{Millis{0}, 0};
    ManualQueue loop;
    SimulatedRadio radio;
    std::shared_ptr<ScriptedReader> device = std::make_shared<ScriptedReader>();
    std::unique_ptr<BleReader> reader;

    Rig() {
        setLogSink([](const std::string&) {});
        radio.addDevice(device);
        loop.sync([&] {
            reader = std::make_unique<BleReader>(radio.centralFactory(loop), loop, timing);
            reader->startScan({}, false);
        });
        loop.drain();
        const auto found = reader->bluetoothManager().discoveredPeripherals.get();
        if (found.empty()) {
            fail("the scripted reader was not found");
        }
        reader->bluetoothManager().connect(found.front());
        loop.drain();
        if (!reader->bluetoothManager().isConnected.get() ||
            !reader->bluetoothManager().hasTransferCharacteristic()) {
            fail("the scripted reader did not connect");
        }
    }

    ReaderResponseFrame exchange(const Bytes& request, const std::vector<Bytes>& notifications) {
        const Bytes inventoryAnswer =
            feig::responseFrame(feig::kIsoHostCommand, feig::kStatusOk,
                                Bytes{0x01, 0x03, 0x00, 0xE0, 0x08, 0x02, 0x2F, 0x7C, 0x3A, 0x1E, 0x5B});
        device->plan([this, &request, &notifications, &inventoryAnswer](const Bytes& written) {
            if (written == request) {
                for (const Bytes& notification : notifications) {
                    reader->onDataReceived(notification);
                }
            } else {
                reader->onDataReceived(inventoryAnswer);
            }
        });
        ReaderResponseFrame answer = reader->sendAndWait(request);
        device->plan(nullptr);
        loop.drain(); // the write's own callbacks ("Write successfully!")
        return answer;
    }
};

Bytes concatenated(const std::vector<Bytes>& notifications, std::size_t first, std::size_t end) {
    Bytes all;
    for (std::size_t i = first; i < end; ++i) {
        all.insert(all.end(), notifications[i].begin(), notifications[i].end());
    }
    return all;
}

bool soundFrame(const Bytes& frame) {
    if (frame.size() < feig::kResponseOverhead || !isFrameStart(frame)) {
        return false;
    }
    const std::size_t declared = std::size_t{frame[1]} << 8 | frame[2];
    const std::uint16_t crc = feig::crc16(std::span(frame.data(), frame.size() - 2));
    return declared == frame.size() && frame[frame.size() - 2] == (crc & 0xFF) &&
           frame[frame.size() - 1] == crc >> 8;
}

// The frame an answer was parsed from.
Bytes frameOf(const ReaderResponseFrame& answer) {
    Bytes frame{answer.startByte, answer.lengthHigh, answer.lengthLow,
                answer.address,   answer.command,    answer.status};
    frame.insert(frame.end(), answer.data.begin(), answer.data.end());
    frame.push_back(answer.crcFirstByte);
    frame.push_back(answer.crcSecondByte);
    return frame;
}

void check(const Bytes& request, const std::vector<Bytes>& notifications, const ReaderResponseFrame& answer) {
    const bool parsed = answer.startByte == feig::kStartByte && answer.status == feig::kStatusOk;
    if (parsed) {
        const Bytes frame = frameOf(answer);
        if (!soundFrame(frame) || answer.length != static_cast<int>(frame.size())) {
            fail("an answer was taken that fails its length or CRC check");
        }
        if (!canAnswer(request, answer.data)) {
            fail("an answer was taken that has another command's form");
        }
        // Where each notification starts in the exchange's bytes, and where the last ends.
        const Bytes all = concatenated(notifications, 0, notifications.size());
        std::vector<std::size_t> boundaries{0};
        for (const Bytes& notification : notifications) {
            boundaries.push_back(boundaries.back() + notification.size());
        }
        const auto boundary = [&](std::size_t offset) {
            return std::binary_search(boundaries.begin(), boundaries.end(), offset);
        };
        bool cameIn = false;
        for (const std::size_t start : boundaries) {
            cameIn = cameIn || (start + frame.size() <= all.size() && boundary(start + frame.size()) &&
                                std::equal(frame.begin(), frame.end(),
                                           all.begin() + static_cast<std::ptrdiff_t>(start)));
        }
        if (!cameIn) {
            fail("an answer was taken that is not made of this exchange's notifications");
        }
        if (extractBlockData(answer.data).size() > answer.data.size()) {
            fail("unpacked block data is longer than the answer");
        }
    } else if (answer.startByte == feig::kStartByte) {
        bool announced = false;
        for (const Bytes& notification : notifications) {
            announced = announced || (isFrameStart(notification) && notification[5] == answer.status);
        }
        if (!announced) {
            fail("an error status was reported that no notification of this exchange carried");
        }
    } else if (answer.status != 1 || !answer.data.empty()) {
        fail("an unusable answer is not the default record");
    }
    // Notifications that are exactly one sound frame with status OK must be taken as it.
    if (!notifications.empty() && isFrameStart(notifications.front()) && notifications.front()[5] == 0) {
        const Bytes all = concatenated(notifications, 0, notifications.size());
        if (soundFrame(all) && canAnswer(request, Bytes(all.begin() + 6, all.end() - 2)) &&
            (!parsed || frameOf(answer) != all)) {
            fail("a sound answer split over notifications was not taken");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Rig rig;
    static const std::vector<Bytes> requests = [] {
        std::vector<Bytes> frames;
        for (const Bytes& hostCommand : fuzz::kHostCommands) {
            frames.push_back(feig::requestFrame(hostCommand));
        }
        return frames;
    }();
    const auto exchange = [](const Bytes& request, const std::vector<Bytes>& notifications) {
        check(request, notifications, rig.exchange(request, notifications));
    };

    std::vector<Bytes> notifications;
    bool exchanged = false;
    std::size_t at = 0;
    const auto take = [&](std::size_t count) {
        count = std::min(count, size - at);
        notifications.emplace_back(data + at, data + at + count);
        at += count;
    };
    while (at < size) {
        const std::uint8_t header = data[at++];
        if (header < 0xF0) {
            take(header);
        } else if (header == 0xF0) {
            const std::size_t request = at < size ? data[at++] % requests.size() : 1;
            exchange(requests[request], notifications);
            notifications.clear();
            exchanged = true;
        } else if (header == 0xF1) {
            for (const Bytes& notification : notifications) {
                rig.reader->onDataReceived(notification);
            }
            notifications.clear();
        } else if (header == 0xF2) {
            std::size_t count = 0;
            for (int i = 0; i < 2 && at < size; ++i) {
                count = count << 8 | data[at++];
            }
            take(count);
        } else {
            notifications.emplace_back();
        }
    }
    if (!notifications.empty() || !exchanged) {
        exchange(requests[1], notifications);
    }

    // The reader has recovered: a sound answer to a read of two blocks, split, is taken whole.
    const Bytes blocks{0x02, 0x04, 0x00, 0x11, 0x22, 0x33, 0x44, 0x00, 0x55, 0x66, 0x77, 0x88};
    const Bytes sound = feig::responseFrame(feig::kIsoHostCommand, feig::kStatusOk, blocks);
    const std::vector<Bytes> split{Bytes(sound.begin(), sound.begin() + 7),
                                   Bytes(sound.begin() + 7, sound.end())};
    const ReaderResponseFrame answer =
        rig.exchange(feig::requestFrame(Bytes{0xB0, 0x23, 0x00, 0x00, 0x02}), split);
    if (frameOf(answer) != sound ||
        extractBlockData(answer.data) != Bytes{0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}) {
        fail("the reader did not take a sound answer after the input");
    }
    return 0;
}
