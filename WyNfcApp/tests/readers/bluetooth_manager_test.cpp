#include "ble_reader_test_rig.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>

namespace wynfc::test {
namespace {

using Statuses = std::vector<BLEStatusEnum>;

TEST(BluetoothManager, ListsEachReaderOnceAndPassesEveryAdvertisementOn) {
    ReaderBench bench(tickTiming(200),
                      {.advertisedServiceUuids = Texts{"2D8F4660-8ACB-11EA-AB12-0800200C9A66"}});
    // Other devices: one with other services, one advertising none.
    bench.radio.addDevice(std::make_shared<SimulatedFeigReader>(
        Timing{},
        FeigReaderIdentity{.identifier = "other", .advertisedServiceUuids = Texts{"180F", "not a uuid"}}));
    bench.radio.addDevice(std::make_shared<SimulatedFeigReader>(
        Timing{}, FeigReaderIdentity{.identifier = "silent", .advertisedServiceUuids = std::nullopt}));
    bench.radio.advertise(*bench.feig);
    bench.radio.advertise(*bench.feig);
    bench.loop.waitIdle();

    const auto listed = bench.manager().discoveredPeripherals.get();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed.front()->identifier(), bench.feig->identifier());
    EXPECT_EQ(bench.receivers->discovered(), decltype(listed)(3, listed.front()));
}

TEST(BluetoothManager, WritesOnlyOverTheConnectionAndDisconnectsAtOnce) {
    ReaderBench bench;
    const Bytes frame = feig::requestFrame(Bytes{0xB0, 0x01, 0x00});
    bench.manager().writeData(frame); // not connected yet
    bench.connect();
    EXPECT_EQ(bench.receivers->statuses(), (Statuses{BLEStatusEnum::POWERON, BLEStatusEnum::CONNECTED}));
    bench.manager().writeData({});
    std::async(std::launch::async, [&] { bench.manager().writeData(frame); }).get();
    ASSERT_TRUE(bench.feig->waitForRequests(1, kPatience));
    EXPECT_EQ(bench.feig->requests(), std::vector<Bytes>{frame});

    std::vector<bool> published;
    auto subscription = bench.manager().isConnected.observe([&](const bool& connected) {
        EXPECT_TRUE(bench.loop.isMainThread());
        published.push_back(connected);
    });
    bench.manager().disconnect(); // from off the main queue
    EXPECT_FALSE(bench.manager().isConnected.get());
    bench.loop.waitIdle();
    ASSERT_FALSE(bench.receivers->statuses().empty());
    EXPECT_EQ(bench.receivers->statuses().back(), BLEStatusEnum::DISCONNECTED);
    EXPECT_FALSE(bench.feig->isConnected());
    // Every assignment is announced: disconnect's own, then the platform's report's.
    EXPECT_EQ(published, (std::vector<bool>{false, false}));

    bench.manager().rescan();
    bench.loop.waitIdle();
    EXPECT_EQ(bench.manager().discoveredPeripherals.get().size(), 1u);

    bench.connect();
    bench.feig->disconnect(); // the reader drops the link
    bench.loop.waitIdle();
    EXPECT_FALSE(bench.manager().isConnected.get());
}

// A status receiver that owns the reader, as the work page does, and whose other owner lets go
// of it while it takes a status, as a host thread may.
class OwningReceiver final : public BleStatusDelegateProtocol {
public:
    std::unique_ptr<BleReader> reader;
    std::function<void()> onStatus;
    void onBleStatus(BLEStatusEnum) override {
        if (onStatus) {
            std::exchange(onStatus, nullptr)();
        }
    }
};

TEST(BluetoothManager, AReceiverLetGoOfDuringAStatusEndsAfterTheCallbackNotInIt) {
    EventLoop loop;
    SimulatedRadio radio;
    const auto feig = std::make_shared<SimulatedFeigReader>(tickTiming(200));
    radio.addDevice(feig);
    auto owner = std::make_shared<OwningReceiver>();
    std::weak_ptr<OwningReceiver> watched = owner;
    loop.sync([&] {
        owner->reader = std::make_unique<BleReader>(radio.centralFactory(loop), loop, tickTiming(200));
        owner->reader->bluetoothManager().setBLEStatusDelegate(owner);
        owner->reader->startScan({}, false);
    });
    loop.waitIdle();
    const auto found = owner->reader->bluetoothManager().discoveredPeripherals.get();
    ASSERT_EQ(found.size(), 1u);

    // The connection's status comes while the only other owner lets go: the manager's callback
    // still holds the receiver, and goes on after it. (Under the address sanitizer an end
    // inside the callback is a use after free.)
    owner->onStatus = [&] { owner.reset(); };
    loop.sync([&] { watched.lock()->reader->bluetoothManager().connect(found.front()); });
    loop.waitIdle();
    EXPECT_TRUE(watched.expired()) << "it ended once the callback was over";
}

TEST(BluetoothManager, EveryConnectionIsAnnouncedAndAnotherReadersEndLeavesTheLink) {
    ReaderBench bench;
    const auto second = std::make_shared<SimulatedFeigReader>(
        tickTiming(200), FeigReaderIdentity{.identifier = "5E1F0000-0000-4000-8000-000000000002"});
    bench.radio.addDevice(second);
    bench.radio.advertise(*second);
    bench.loop.waitIdle();
    const auto found = bench.manager().discoveredPeripherals.get();
    ASSERT_EQ(found.size(), 2u);

    std::vector<bool> published;
    auto subscription =
        bench.manager().isConnected.observe([&](const bool& connected) { published.push_back(connected); });
    for (const auto& peripheral : found) { // the second while the first is connected
        bench.manager().connect(peripheral);
        bench.loop.waitIdle();
    }
    EXPECT_EQ(published, (std::vector<bool>{true, true}));
    EXPECT_EQ(bench.manager().connectedPeripheral(), found[1]);

    // The first reader's link ends: reported, but the connection to the second stays.
    (found[0]->identifier() == bench.feig->identifier() ? *bench.feig : *second).disconnect();
    bench.loop.waitIdle();
    ASSERT_FALSE(bench.receivers->statuses().empty());
    EXPECT_EQ(bench.receivers->statuses().back(), BLEStatusEnum::DISCONNECTED);
    EXPECT_EQ(bench.manager().connectedPeripheral(), found[1]);
    EXPECT_TRUE(bench.manager().isConnected.get());
    EXPECT_EQ(published, (std::vector<bool>{true, true}));
}

TEST(BluetoothManager, BluetoothOffWhileConnectedReportsPowerOffThenOneDisconnection) {
    ReaderBench bench;
    bench.connect();
    bench.radio.powerOff();
    bench.loop.waitIdle();

    EXPECT_EQ(bench.receivers->statuses(), (Statuses{BLEStatusEnum::POWERON, BLEStatusEnum::CONNECTED,
                                                     BLEStatusEnum::POWEROFF, BLEStatusEnum::DISCONNECTED}));
    EXPECT_FALSE(bench.manager().isConnected.get());
    EXPECT_TRUE(bench.manager().isBluetoothEnabled.get()); // never set back

    bench.manager().rescan(); // empties the list, scans nothing
    bench.radio.advertise(*bench.feig);
    bench.loop.waitIdle();
    EXPECT_TRUE(bench.manager().discoveredPeripherals.get().empty());

    bench.radio.powerOn();
    bench.loop.waitIdle();
    ASSERT_FALSE(bench.receivers->statuses().empty());
    EXPECT_EQ(bench.receivers->statuses().back(), BLEStatusEnum::POWERON);
    EXPECT_EQ(bench.manager().discoveredPeripherals.get().size(), 1u);
}

TEST(BluetoothManager, PermissionRefusedStaysRefused) {
    ReaderBench bench;
    bench.radio.refusePermission();
    bench.radio.powerOn(); // granted again while the program runs
    bench.loop.waitIdle();
    EXPECT_EQ(bench.receivers->statuses(),
              (Statuses{BLEStatusEnum::POWERON, BLEStatusEnum::UNAUTHORIZED, BLEStatusEnum::POWERON}));
    EXPECT_FALSE(bench.manager().isAllowUseBLE.get());
}

} // namespace
} // namespace wynfc::test
