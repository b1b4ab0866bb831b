#include "ble_reader_test_rig.h"

#include <gtest/gtest.h>

namespace wynfc::ble_test {
namespace {

using Statuses = std::vector<BLEStatusEnum>;
using Texts = std::vector<std::string>;

// A device that advertises what a test gives it.
class OtherDevice final : public SimulatedDevice {
public:
    OtherDevice(std::string identifier, std::optional<std::vector<std::string>> services)
        : SimulatedDevice(std::move(identifier), std::nullopt,
                          AdvertisementData{std::nullopt, std::move(services)}, {}) {}

protected:
    void onWrite(ConnectionId, const std::string&, const Value&) override {}
};

TEST(BluetoothManager, ListsEachReaderOnceAndPassesEveryAdvertisementOn) {
    FeigReaderIdentity upperCase;
    upperCase.advertisedServiceUuids = std::vector<std::string>{"2D8F4660-8ACB-11EA-AB12-0800200C9A66"};
    ReaderBench bench(patientTiming(), upperCase);
    bench.radio.addDevice(
        std::make_shared<OtherDevice>("others", std::vector<std::string>{"180F", "not a uuid"}));
    bench.radio.addDevice(std::make_shared<OtherDevice>("silent", std::nullopt));
    bench.radio.advertise(*bench.feig);
    bench.radio.advertise(*bench.feig);
    bench.loop.waitIdle();

    EXPECT_EQ(bench.receivers->statuses(), Statuses{BLEStatusEnum::POWERON});
    EXPECT_TRUE(bench.manager().isBluetoothEnabled.get());
    const auto listed = bench.manager().discoveredPeripherals.get();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed.front()->identifier(), bench.feig->identifier());
    EXPECT_EQ(bench.receivers->discovered(), decltype(listed)(3, listed.front()));
}

TEST(BluetoothManager, ConnectsSubscribesAndWritesOnlyOverTheConnection) {
    ReaderBench bench;
    const Bytes frame = feig::requestFrame(Bytes{0xB0, 0x01, 0x00});
    bench.manager().writeData(frame); // not connected yet
    LogWatch log;
    bench.connect();

    EXPECT_EQ(bench.receivers->statuses(), (Statuses{BLEStatusEnum::POWERON, BLEStatusEnum::CONNECTED}));
    EXPECT_EQ(bench.manager().connectedPeripheral(), bench.manager().discoveredPeripherals.get().front());
    const Texts steps{"Connected!", "didDiscoverServices", "Transfer characteristic found",
                      "Transfer characteristicReadUUID found", "Notification began on %@"};
    EXPECT_EQ(log.sequence(steps),
              (Texts{"Connected!", "didDiscoverServices", "Transfer characteristic found",
                     "Transfer characteristicReadUUID found", "Notification began on %@",
                     "Notification began on %@"}));

    bench.manager().writeData({});
    std::async(std::launch::async, [&] { bench.manager().writeData(frame); }).get();
    EXPECT_TRUE(log.waitFor("Write successfully!"));
    EXPECT_EQ(bench.feig->requests(), std::vector<Bytes>{frame});
}

TEST(BluetoothManager, DisconnectDropsTheLinkAtOnceAndRescanFindsTheReaderAgain) {
    ReaderBench bench;
    bench.connect();
    std::vector<bool> published;
    auto subscription = bench.manager().isConnected.observe([&](const bool& connected) {
        EXPECT_TRUE(bench.loop.isMainThread());
        published.push_back(connected);
    });

    bench.manager().disconnect(); // from off the main queue
    EXPECT_FALSE(bench.manager().isConnected.get());
    EXPECT_EQ(bench.manager().connectedPeripheral(), nullptr);
    bench.loop.waitIdle();
    EXPECT_EQ(bench.receivers->statuses().back(), BLEStatusEnum::DISCONNECTED);
    EXPECT_FALSE(bench.feig->isConnected());

    bench.manager().rescan();
    bench.loop.waitIdle();
    EXPECT_EQ(bench.manager().discoveredPeripherals.get().size(), 1u);
    EXPECT_EQ(published, std::vector<bool>{false});

    bench.manager().writeData(feig::requestFrame(Bytes{0xB0, 0x01, 0x00}));
    EXPECT_TRUE(bench.feig->requests().empty());
}

TEST(BluetoothManager, BluetoothOffWhileConnectedReportsPowerOffThenOneDisconnection) {
    ReaderBench bench;
    bench.connect();
    LogWatch log;
    bench.radio.powerOff();
    bench.loop.waitIdle();

    EXPECT_EQ(bench.receivers->statuses(), (Statuses{BLEStatusEnum::POWERON, BLEStatusEnum::CONNECTED,
                                                     BLEStatusEnum::POWEROFF, BLEStatusEnum::DISCONNECTED}));
    EXPECT_EQ(log.sequence({"CBManager is powered ooff", "Disconnected!"}),
              (Texts{"CBManager is powered ooff", "Disconnected!"}));
    EXPECT_FALSE(bench.manager().isConnected.get());
    EXPECT_TRUE(bench.manager().isBluetoothEnabled.get()); // never set back

    bench.manager().rescan(); // empties the list, scans nothing
    bench.radio.advertise(*bench.feig);
    bench.loop.waitIdle();
    EXPECT_TRUE(bench.manager().discoveredPeripherals.get().empty());

    bench.radio.powerOn();
    bench.loop.waitIdle();
    EXPECT_EQ(bench.receivers->statuses().back(), BLEStatusEnum::POWERON);
    EXPECT_EQ(bench.manager().discoveredPeripherals.get().size(), 1u);
}

TEST(BluetoothManager, PermissionRefusedStaysRefused) {
    ReaderBench bench;
    bench.radio.refusePermission();
    bench.loop.waitIdle();
    EXPECT_FALSE(bench.manager().isAllowUseBLE.get());

    bench.radio.powerOn(); // granted again while the program runs
    bench.loop.waitIdle();
    EXPECT_EQ(bench.receivers->statuses(),
              (Statuses{BLEStatusEnum::POWERON, BLEStatusEnum::UNAUTHORIZED, BLEStatusEnum::POWERON}));
    EXPECT_FALSE(bench.manager().isAllowUseBLE.get());
}

} // namespace
} // namespace wynfc::ble_test
