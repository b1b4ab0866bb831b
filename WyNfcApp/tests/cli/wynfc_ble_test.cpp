// wynfc with a real Bluetooth reader: the program finds it through BlueZ on the system bus,
// here a fake BlueZ on a bus of the test's own, with the simulated reader and driver behind it.

#include "fake_bluez.h"
#include "platform/sim/simulated_feig_reader.h"
#include "platform/sim/virtual_tag.h"
#include "private_bus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace wynfc::test {
namespace {

using ::testing::HasSubstr;

const std::string kSamples = std::string(WYNFC_RESOURCES_DIR) + "/samples/";
const std::string kReaderService = "2d8f4660-8acb-11ea-ab12-0800200c9a66";
const std::string kFirst = "C8:1F:66:00:00:01";
const std::string kSecond = "C8:1F:66:00:00:02";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readAll(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// A driver on a Bluetooth reader behind a fake BlueZ; wynfc runs as its own process on that bus.
struct ReaderOnTheBus {
    explicit ReaderOnTheBus(PrivateBus::Options busOptions = {}) : bus(busOptions) {}

    std::shared_ptr<SimulatedFeigReader> addReader(const std::string& address, const std::string& name,
                                                   const std::string& sample) {
        auto reader = std::make_shared<SimulatedFeigReader>(Timing{}, FeigReaderIdentity{address, name, {}});
        tags.push_back(VirtualTag::load(kSamples + sample + ".json"));
        reader->putTag(tags.back());
        fake.addDevice(FakeDevice{address, name, std::vector<std::string>{kReaderService}, -50, reader});
        return reader;
    }

    // Time scale 0.05: the product's 15 s search for a reader takes 0.8 s. Runs that must find
    // a reader on a loaded machine take a longer scale.
    Outcome wynfc(const std::string& arguments, const std::string& timeScale = "0.05") const {
        const auto out = folder / "out.txt";
        const auto err = folder / "err.txt";
        const std::string command = "DBUS_SYSTEM_BUS_ADDRESS='" + bus.address() +
                                    "' WYNFC_TIME_SCALE=" + timeScale + " '" + std::string(WYNFC_CLI) + "' " +
                                    arguments + " >'" + out.string() + "' 2>'" + err.string() + "'";
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readAll(out), readAll(err)};
    }

    std::filesystem::path folder = [] {
        const auto path =
            std::filesystem::path(WYNFC_BINARY_DIR) / "wynfc_ble_test" / std::to_string(getpid());
        std::filesystem::create_directories(path);
        return path;
    }();
    PrivateBus bus;
    FakeBluez fake{bus.address()};
    std::vector<std::shared_ptr<VirtualTag>> tags;
};

TEST(WynfcOverBluez, ReadsAndWritesADriverThroughTheReaderItFinds) {
    ReaderOnTheBus rig;
    rig.addReader(kFirst, "HF-BLE reader", "full_feature");

    const Outcome reading = rig.wynfc("read --reader ble --json", "0.25");
    ASSERT_EQ(reading.status, 0) << reading.err;
    std::istringstream lines(reading.out);
    std::string line;
    std::string last;
    int events = 0;
    while (std::getline(lines, line)) {
        last = line;
        ++events;
    }
    EXPECT_GT(events, 3);
    EXPECT_EQ(nlohmann::json::parse(last)["status"], "Read completed");

    const Outcome writing =
        rig.wynfc("write --reader ble --set nfc_data_addr_dc_dali_setting.max_level=0xC9", "0.25");
    ASSERT_EQ(writing.status, 0) << writing.out << writing.err;
    EXPECT_THAT(writing.out, HasSubstr("Status: Write completed"));
    EXPECT_THAT(writing.out, HasSubstr("Verified: 1 value(s) in 1 area(s) read back as written."));
    // The program leaves no link behind, and stops its scan.
    EXPECT_TRUE(rig.fake.waitFor([](const FakeState& s) { return s.connected.empty() && !s.discovering; },
                                 Millis{10000}));
}

TEST(WynfcOverBluez, DeviceChoosesTheReaderByNameOrAddress) {
    ReaderOnTheBus rig;
    rig.addReader(kFirst, "HF-BLE reader", "full_feature");
    rig.addReader(kSecond, "Bench reader", "basic");
    for (const std::string& device : {std::string("'Bench reader'"), std::string("c8:1f:66:00:00:02")}) {
        SCOPED_TRACE(device);
        const auto writesBefore = rig.fake.state().writes.size();
        const Outcome reading = rig.wynfc("read --reader ble --device " + device, "0.25");
        ASSERT_EQ(reading.status, 0) << reading.err;
        const auto writes = rig.fake.state().writes;
        ASSERT_GT(writes.size(), writesBefore);
        for (auto write = writes.begin() + static_cast<std::ptrdiff_t>(writesBefore); write != writes.end();
             ++write) {
            EXPECT_EQ(write->address, kSecond);
        }
    }
    const Outcome none = rig.wynfc("read --reader ble --device 'No such reader'");
    EXPECT_EQ(none.status, 1);
    EXPECT_THAT(none.err, HasSubstr("no Bluetooth NFC reader \"No such reader\" found within 0.8 s"));
}

TEST(WynfcOverBluez, SaysPlainlyWhyNoReaderCanBeReached) {
    {
        ReaderOnTheBus rig;
        rig.fake.leaveBus();
        const Outcome run = rig.wynfc("read --reader ble");
        EXPECT_EQ(run.status, 1);
        EXPECT_THAT(run.err, HasSubstr("Bluetooth is not available here: no Bluetooth adapter, or the BlueZ "
                                       "service (bluetoothd) is not running"));
        EXPECT_EQ(run.out, "");
    }
    {
        ReaderOnTheBus rig;
        rig.addReader(kFirst, "HF-BLE reader", "full_feature");
        rig.fake.setPowered(false);
        const Outcome run = rig.wynfc("read --reader ble");
        EXPECT_EQ(run.status, 1);
        EXPECT_THAT(run.err, HasSubstr("Bluetooth is off"));
    }
    {
        ReaderOnTheBus rig(PrivateBus::Options{.refuseBluez = true});
        const Outcome run = rig.wynfc("read --reader ble");
        EXPECT_EQ(run.status, 1);
        EXPECT_THAT(run.err, HasSubstr("this user may not use Bluetooth"));
    }
    {
        ReaderOnTheBus rig; // BlueZ, but no reader in range
        rig.fake.addDevice(FakeDevice{"AA:00:00:00:00:09", "Heart rate", std::nullopt, -70, nullptr});
        const Outcome run = rig.wynfc("read --reader ble");
        EXPECT_EQ(run.status, 1);
        EXPECT_THAT(run.err, HasSubstr("no Bluetooth NFC reader found within 0.8 s"));
    }
    {
        ReaderOnTheBus rig;
        rig.addReader(kFirst, "HF-BLE reader", "full_feature");
        rig.fake.failConnects(100);
        const Outcome run = rig.wynfc("read --reader ble");
        EXPECT_EQ(run.status, 1);
        EXPECT_THAT(run.err, HasSubstr("could not connect to the Bluetooth NFC reader HF-BLE reader (" +
                                       kFirst + ")"));
    }
}

TEST(WynfcOverBluez, TheSimulationKeepsItsOwnOptions) {
    ReaderOnTheBus rig;
    const Outcome device = rig.wynfc("read --reader sim-ble --device x");
    EXPECT_EQ(device.status, 2);
    EXPECT_THAT(device.err, HasSubstr("--device goes with --reader ble"));
    const Outcome tag = rig.wynfc("read --reader ble --tag " + kSamples + "basic.json");
    EXPECT_EQ(tag.status, 2);
    EXPECT_THAT(tag.err, HasSubstr("--tag and --save are for the simulated driver"));
}

} // namespace
} // namespace wynfc::test
