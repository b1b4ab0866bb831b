#include "ble_reader_test_rig.h"

#include "readers/bluetooth_manager.h"

#include <gtest/gtest.h>

namespace wynfc::ble_test {
namespace {

using Statuses = std::vector<BLEStatusEnum>;

const std::string kUpperCaseService = "2D8F4660-8ACB-11EA-AB12-0800200C9A66";

// A device that advertises what a test gives it and ignores writes.
class OtherDevice final : public SimulatedDevice {
public:
    OtherDevice(std::string identifier, std::optional<std::vector<std::string>> services)
        : SimulatedDevice(std::move(identifier), std::nullopt,
                          AdvertisementData{std::nullopt, std::move(services)}, {}) {}

protected:
    void onWrite(ConnectionId, const std::string&, const Value&) override {}
};

// A BluetoothManager on a simulated radio, created on the main queue so that its receivers
// are in place before the first state callback.
class BluetoothManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        radio.addDevice(feig);
        loop.sync([this] {
            manager = std::make_unique<BluetoothManager>(radio.centralFactory(loop), loop);
            manager->setBLEStatusDelegate(status);
            manager->setDelegate(&data);
        });
        loop.waitIdle();
    }

    void TearDown() override { manager.reset(); }

    std::shared_ptr<Peripheral> connectToTheReader() {
        const auto found = manager->discoveredPeripherals.get();
        EXPECT_EQ(found.size(), 1u);
        if (found.empty()) {
            return nullptr;
        }
        manager->connect(found.front());
        loop.waitIdle();
        return found.front();
    }

    EventLoop loop;
    SimulatedRadio radio;
    std::shared_ptr<SimulatedFeigReader> feig = std::make_shared<SimulatedFeigReader>(
        patientTiming(), FeigReaderIdentity{
                             .identifier = "reader",
                             .name = "reader",
                             .advertisedServiceUuids = std::vector<std::string>{kUpperCaseService},
                         });
    std::shared_ptr<StatusRecorder> status = std::make_shared<StatusRecorder>(loop);
    DataRecorder data{loop};
    std::unique_ptr<BluetoothManager> manager;
};

TEST_F(BluetoothManagerTest, ListsReadersOnceAndPassesEveryAdvertisementOn) {
    auto others = std::make_shared<OtherDevice>("others", std::vector<std::string>{"180F", "not a uuid"});
    auto silent = std::make_shared<OtherDevice>("silent", std::nullopt);
    radio.addDevice(others);
    radio.addDevice(silent);
    radio.advertise(*feig);
    radio.advertise(*feig);
    loop.waitIdle();

    EXPECT_EQ(status->items(), Statuses{BLEStatusEnum::POWERON});
    EXPECT_TRUE(manager->isBluetoothEnabled.get());
    const auto found = manager->discoveredPeripherals.get();
    ASSERT_EQ(found.size(), 1u); // upper-case service accepted; the others ignored
    EXPECT_EQ(found.front()->identifier(), "reader");
    EXPECT_EQ(data.items(), std::vector<std::string>(3, "discovered reader"));
}

TEST_F(BluetoothManagerTest, ConnectsFindsTheCharacteristicsAndCarriesFramesBothWays) {
    LogWatch log;
    const auto reader = connectToTheReader();
    ASSERT_TRUE(reader);

    EXPECT_EQ(status->items(), (Statuses{BLEStatusEnum::POWERON, BLEStatusEnum::CONNECTED}));
    EXPECT_TRUE(manager->isConnected.get());
    EXPECT_EQ(manager->connectedPeripheral(), reader);
    EXPECT_TRUE(manager->hasTransferCharacteristic());
    EXPECT_EQ(log.sequence({"Connected!", "didDiscoverServices", "Transfer characteristic found",
                            "Transfer characteristicReadUUID found", "Notification began on %@"}),
              (std::vector<std::string>{"Connected!", "didDiscoverServices", "Transfer characteristic found",
                                        "Transfer characteristicReadUUID found", "Notification began on %@",
                                        "Notification began on %@"}));

    // Connected readers do not advertise, and the scan has stopped: nothing new is heard.
    radio.addDevice(std::make_shared<OtherDevice>("late", std::vector<std::string>{kReaderServiceUuid}));
    loop.waitIdle();
    EXPECT_EQ(manager->discoveredPeripherals.get().size(), 1u);

    // A frame goes out from a worker in one write; both characteristics' notifications come back.
    const Bytes inventory = feig::requestFrame(Bytes{0xB0, 0x01, 0x00});
    std::async(std::launch::async, [&] { manager->writeData(inventory); }).get();
    ASSERT_TRUE(feig->waitForRequests(1, kWaitLimit));
    EXPECT_EQ(feig->requests(), std::vector<Bytes>{inventory});
    feig->setAnswerCharacteristic(std::string(SimulatedFeigReader::kSecondCharacteristicUuid));
    feig->sendNotification({0x01, 0x02});
    ASSERT_TRUE(data.waitForCount(3));
    EXPECT_EQ(data.items()[1], "data " + toHex(feig::responseFrame(0xB0, feig::kStatusNoTag, {})));
    EXPECT_EQ(data.items()[2], "data 0102");
    EXPECT_TRUE(log.waitFor("Write successfully!"));
}

TEST_F(BluetoothManagerTest, WritesNothingWithoutAConnectionOrBytes) {
    manager->writeData(feig::requestFrame(Bytes{0xB0, 0x01, 0x00}));
    ASSERT_TRUE(connectToTheReader());
    manager->writeData({});
    manager->disconnect();
    loop.waitIdle();
    manager->writeData(feig::requestFrame(Bytes{0xB0, 0x01, 0x00}));
    loop.waitIdle();
    EXPECT_TRUE(feig->requests().empty());
}

TEST_F(BluetoothManagerTest, DisconnectDropsTheLinkAtOnceAndTheLossIsReportedOnce) {
    ASSERT_TRUE(connectToTheReader());
    std::vector<bool> seen;
    auto subscription = manager->isConnected.observe([&](const bool& connected) {
        EXPECT_TRUE(loop.isMainThread());
        seen.push_back(connected);
    });

    manager->disconnect(); // from a thread other than the main queue
    EXPECT_FALSE(manager->isConnected.get());
    EXPECT_EQ(manager->connectedPeripheral(), nullptr);
    loop.waitIdle();
    EXPECT_EQ(status->items(),
              (Statuses{BLEStatusEnum::POWERON, BLEStatusEnum::CONNECTED, BLEStatusEnum::DISCONNECTED}));
    EXPECT_FALSE(feig->isConnected());

    // The scan stopped with the connection; rescan lists the reader afresh.
    manager->rescan();
    loop.waitIdle();
    EXPECT_EQ(manager->discoveredPeripherals.get().size(), 1u);
    EXPECT_EQ(seen, std::vector<bool>{false});
}

TEST_F(BluetoothManagerTest, LosingTheReaderReportsDisconnectedAndForgetsIt) {
    ASSERT_TRUE(connectToTheReader());
    feig->disconnect();
    loop.waitIdle();
    EXPECT_EQ(status->items().back(), BLEStatusEnum::DISCONNECTED);
    EXPECT_FALSE(manager->isConnected.get());
    EXPECT_EQ(manager->connectedPeripheral(), nullptr);
}

TEST_F(BluetoothManagerTest, BluetoothOffWhileConnectedReportsPowerOffThenOneDisconnection) {
    ASSERT_TRUE(connectToTheReader());
    LogWatch log;
    radio.powerOff();
    loop.waitIdle();

    EXPECT_EQ(status->items(), (Statuses{BLEStatusEnum::POWERON, BLEStatusEnum::CONNECTED,
                                         BLEStatusEnum::POWEROFF, BLEStatusEnum::DISCONNECTED}));
    EXPECT_EQ(log.count("CBManager is powered ooff"), 1);
    EXPECT_EQ(log.count("Disconnected!"), 1);
    EXPECT_FALSE(manager->isConnected.get());
    EXPECT_TRUE(manager->isBluetoothEnabled.get()); // never set back

    // Rescan while off empties the list and scans nothing.
    manager->rescan();
    radio.advertise(*feig);
    loop.waitIdle();
    EXPECT_TRUE(manager->discoveredPeripherals.get().empty());

    radio.powerOn();
    loop.waitIdle();
    EXPECT_EQ(status->items().back(), BLEStatusEnum::POWERON);
    EXPECT_EQ(manager->discoveredPeripherals.get().size(), 1u);
}

TEST_F(BluetoothManagerTest, PermissionRefusedStaysRefused) {
    LogWatch log;
    radio.refusePermission();
    loop.waitIdle();
    EXPECT_FALSE(manager->isAllowUseBLE.get());
    EXPECT_EQ(log.count("CBManager is unauthorized"), 1);

    radio.powerOn(); // granted again while the program runs
    loop.waitIdle();
    EXPECT_EQ(status->items(),
              (Statuses{BLEStatusEnum::POWERON, BLEStatusEnum::UNAUTHORIZED, BLEStatusEnum::POWERON}));
    EXPECT_FALSE(manager->isAllowUseBLE.get());
}

TEST_F(BluetoothManagerTest, OtherStatesAreOnlyLogged) {
    LogWatch log;
    radio.setState(CentralState::resetting);
    loop.waitIdle();
    radio.setState(CentralState::unsupported);
    loop.waitIdle();
    radio.setState(CentralState::unknown);
    loop.waitIdle();
    EXPECT_EQ(log.sequence({"CBManager is resetting", "Bluetooth is not supported on this device",
                            "CBManager state is unknown"}),
              (std::vector<std::string>{"CBManager is resetting", "Bluetooth is not supported on this device",
                                        "CBManager state is unknown"}));
    EXPECT_EQ(status->items(), Statuses{BLEStatusEnum::POWERON});
    EXPECT_TRUE(manager->isAllowUseBLE.get());
}

TEST_F(BluetoothManagerTest, StatusReportsStopWhenTheReceiverIsGone) {
    status.reset();
    radio.powerOff();
    loop.waitIdle(); // no receiver to call: nothing happens beyond the state change
    EXPECT_TRUE(manager->isBluetoothEnabled.get());
}

} // namespace
} // namespace wynfc::ble_test
