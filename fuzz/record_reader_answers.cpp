// Records the simulated Bluetooth reader's answers as seeds: the notifications of each
// exchange for fuzz_ble_notifications (in its input format), each whole answer frame for
// fuzz_reader_frames. The reader holds the shipped full-feature sample; the requests are those
// the jobs and the service commands send, some answers planned with the simulator's faults.
//
//   build/fuzz/fuzz/record_reader_answers WyNfcApp/resources/samples/full_feature.json fuzz/corpus

#include "ble_requests.h"
#include "platform/console_log.h"
#include "platform/sim/event_loop.h"
#include "platform/sim/feig_frame.h"
#include "platform/sim/simulated_feig_reader.h"
#include "platform/sim/simulated_radio.h"
#include "platform/sim/virtual_tag.h"
#include "readers/bluetooth_manager.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace wynfc;

class Recorder final : public BleDataCallbackDegelate {
public:
    void onDataReceived(const Bytes& bytes) override {
        std::lock_guard lock(mMutex);
        mNotifications.push_back(bytes);
    }
    void onPeripheralDiscovered(const std::shared_ptr<Peripheral>&) override {}

    std::vector<Bytes> take() {
        std::lock_guard lock(mMutex);
        return std::exchange(mNotifications, {});
    }
    std::size_t count() {
        std::lock_guard lock(mMutex);
        return mNotifications.size();
    }

private:
    std::mutex mMutex;
    std::vector<Bytes> mNotifications;
};

struct Exchange {
    std::size_t request; // in fuzz::kHostCommands
    FeigAnswerPlan plan;
};

void write(const std::filesystem::path& file, const Bytes& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SAMPLE_IMAGE CORPUS_DIR\n", argv[0]);
        return 2;
    }
    setLogSink([](const std::string&) {});
    const std::filesystem::path corpus = argv[2];

    EventLoop loop;
    SimulatedRadio radio;
    auto feig = std::make_shared<SimulatedFeigReader>(Timing{Millis{50}, 5});
    feig->putTag(VirtualTag::load(argv[1]));
    radio.addDevice(feig);
    Recorder recorder;
    std::unique_ptr<BluetoothManager> manager;
    loop.sync([&] {
        manager = std::make_unique<BluetoothManager>(radio.centralFactory(loop), loop);
        manager->setDelegate(&recorder);
    });
    loop.waitIdle();
    const auto found = manager->discoveredPeripherals.get();
    if (found.empty()) {
        std::fprintf(stderr, "the simulated reader was not found\n");
        return 1;
    }
    manager->connect(found.front());
    loop.waitIdle();
    if (!manager->hasTransferCharacteristic()) {
        std::fprintf(stderr, "the simulated reader did not connect\n");
        return 1;
    }

    // Each exchange: the request, then every notification until none has come for a while.
    const auto run = [&](const Exchange& exchange) {
        feig->planNextAnswer(exchange.plan);
        manager->writeData(feig::requestFrame(fuzz::kHostCommands.at(exchange.request)));
        std::size_t seen = 0;
        for (int quiet = 0; quiet < 3;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            loop.waitIdle();
            const std::size_t now = recorder.count();
            quiet = now == seen ? quiet + 1 : 0;
            seen = now;
        }
        return recorder.take();
    };
    // In fuzz_ble_notifications' form: each notification after its size, each exchange ended
    // by 0xF0 and its request.
    const auto encode = [](const std::vector<Exchange>& exchanges,
                           const std::vector<std::vector<Bytes>>& recorded) {
        Bytes input;
        for (std::size_t i = 0; i < exchanges.size(); ++i) {
            for (const Bytes& notification : recorded[i]) {
                input.push_back(static_cast<std::uint8_t>(notification.size()));
                input.insert(input.end(), notification.begin(), notification.end());
            }
            input.push_back(0xF0);
            input.push_back(static_cast<std::uint8_t>(exchanges[i].request));
        }
        return input;
    };

    enum : std::size_t { inventory, readBlocks, readArea, writeBlock, systemInformation, beyondTheTag };
    FeigAnswerPlan late = FeigAnswerPlan::sentLate();

    const std::vector<std::pair<std::string, std::vector<Exchange>>> cases = {
        {"inventory", {{inventory, {}}}},
        {"read_blocks", {{readBlocks, {}}}},
        {"read_area", {{readArea, {}}}},
        {"write_block", {{writeBlock, {}}}},
        {"system_information", {{systemInformation, {}}}},
        {"beyond_the_tag", {{beyondTheTag, {}}}},
        {"no_tag_status", {{readBlocks, FeigAnswerPlan::withStatus(feig::kStatusNoTag)}}},
        {"corrupt_crc", {{readBlocks, FeigAnswerPlan::withCorruptCrc()}}},
        {"split_small", {{readBlocks, FeigAnswerPlan::splitInto({1, 2, 0, 3})}}},
        {"inventory_then_read", {{inventory, {}}, {readArea, {}}}},
        {"late_answer", {{readBlocks, late}, {writeBlock, {}}}},
        {"late_answer_alike", {{readBlocks, late}, {readBlocks, {}}}},
        {"write_then_read_back", {{writeBlock, {}}, {readBlocks, {}}}},
    };
    std::filesystem::create_directories(corpus / "ble_notifications");
    std::filesystem::create_directories(corpus / "reader_frames");
    for (const auto& [name, exchanges] : cases) {
        std::vector<std::vector<Bytes>> recorded;
        for (const Exchange& exchange : exchanges) {
            recorded.push_back(run(exchange));
        }
        write(corpus / "ble_notifications" / ("sim_" + name), encode(exchanges, recorded));
        if (exchanges.size() == 1) {
            Bytes frame;
            for (const Bytes& notification : recorded.front()) {
                frame.insert(frame.end(), notification.begin(), notification.end());
            }
            write(corpus / "reader_frames" / ("sim_" + name), frame);
        }
    }
    loop.sync([&] { manager.reset(); });
    return 0;
}
