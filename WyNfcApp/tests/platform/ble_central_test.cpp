#include "ble_test_support.h"

#include "platform/sim/simulated_central.h"

#include <gtest/gtest.h>

#include <future>

namespace wynfc::test {
namespace {

using Events = std::vector<std::string>;

const std::string kReaderId = FeigReaderIdentity{}.identifier;

// A device that advertises what a test gives it and ignores writes.
class PlainDevice : public SimulatedDevice {
public:
    PlainDevice(std::string identifier, std::optional<std::vector<std::string>> services)
        : SimulatedDevice(std::move(identifier), std::nullopt,
                          AdvertisementData{std::nullopt, std::move(services)}, {}) {}

protected:
    void onWrite(ConnectionId, const std::string&, const Value&) override {}
};

TEST(BleCentral, ReportsItsStateOnTheMainQueueSoonAfterCreation) {
    ReaderRig rig;
    ASSERT_TRUE(rig.recorder.waitForEvent("state poweredOn"));
    EXPECT_EQ(rig.central->state(), CentralState::poweredOn);

    SimulatedRadio offRadio(CentralState::poweredOff);
    BleRecorder recorder(rig.loop);
    const auto central = offRadio.centralFactory(rig.loop)(recorder);
    rig.loop.waitIdle();
    EXPECT_EQ(recorder.events(), Events{"state poweredOff"});
}

TEST(BleCentral, ScanHearsDevicesInRangeAndRepeatedAdvertisementsAsTheSamePeripheral) {
    ReaderRig rig;
    auto other = std::make_shared<PlainDevice>("other", std::vector<std::string>{"180F", "not a uuid"});
    auto silent = std::make_shared<PlainDevice>("silent", std::nullopt);
    rig.radio.addDevice(other);
    rig.radio.addDevice(silent);
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events(), Events{"state poweredOn"}); // nothing heard before the scan

    rig.central->scanForPeripherals();
    rig.loop.waitIdle();
    EXPECT_TRUE(rig.central->isScanning());
    EXPECT_EQ(rig.recorder.events(),
              (Events{"state poweredOn", "discover " + kReaderId, "discover other", "discover silent"}));
    const auto silentPeripheral = rig.recorder.peripheral();
    EXPECT_FALSE(rig.recorder.lastAdvertisement()->serviceUuids.has_value());

    rig.radio.advertise(*silent);
    rig.radio.advertise(*other);
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.lastAdvertisement()->serviceUuids,
              (std::vector<std::string>{"180F", "not a uuid"}));
    rig.radio.advertise(*silent);
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.peripheral(), silentPeripheral);
    EXPECT_EQ(rig.recorder.peripheral()->identifier(), "silent");

    rig.central->stopScan();
    rig.radio.advertise(*silent);
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events().size(), 7u);
}

TEST(BleCentral, ConnectsDiscoversAndSubscribesInOrder) {
    ReaderRig rig;
    rig.central->scanForPeripherals();
    rig.loop.waitIdle();
    const auto peripheral = rig.recorder.peripheral();
    EXPECT_EQ(peripheral->name(), FeigReaderIdentity{}.name);
    EXPECT_EQ(rig.recorder.lastAdvertisement()->serviceUuids,
              std::vector<std::string>{std::string(SimulatedFeigReader::kServiceUuid)});
    EXPECT_EQ(peripheral->state(), PeripheralState::disconnected);

    rig.recorder.clearEvents();
    rig.loop.sync([&] { // the connection completes in a later task
        rig.central->connect(peripheral);
        EXPECT_EQ(peripheral->state(), PeripheralState::connecting);
    });
    rig.loop.waitIdle();
    EXPECT_EQ(peripheral->state(), PeripheralState::connected);
    EXPECT_TRUE(rig.reader->isConnected());
    rig.radio.advertise(*rig.reader); // a connected reader does not advertise
    // Discovery asks for the service in upper case: UUIDs match regardless of case.
    peripheral->discoverServices(std::vector<std::string>{"2D8F4660-8ACB-11EA-AB12-0800200C9A66"});
    rig.loop.waitIdle();
    const auto service = peripheral->services().at(0);
    peripheral->discoverCharacteristics(
        std::vector<std::string>{std::string(SimulatedFeigReader::kTransferCharacteristicUuid),
                                 std::string(SimulatedFeigReader::kSecondCharacteristicUuid)},
        service);
    rig.loop.waitIdle();
    ASSERT_TRUE(rig.transfer() && rig.second());
    EXPECT_TRUE(rig.transfer()->properties().write);
    EXPECT_FALSE(rig.second()->properties().write);
    EXPECT_FALSE(rig.transfer()->isNotifying());
    peripheral->setNotifyValue(true, rig.transfer());
    peripheral->setNotifyValue(true, rig.second());
    rig.loop.waitIdle();
    EXPECT_TRUE(rig.transfer()->isNotifying());
    EXPECT_EQ(rig.recorder.events(), (Events{"connect", "services 1", "characteristics 2",
                                             "notifying 2d8f4661 on", "notifying 2d8f4662 on"}));
}

TEST(BleCentral, WriteIsAcknowledgedBeforeTheAnswerArrives) {
    ReaderRig rig;
    rig.connect();
    rig.reader->putTag(blankTag());
    rig.send(requestOf({0xB0, 0x01, 0x00}));
    rig.loop.waitIdle();
    // 8 + 11 data bytes = 19 bytes: one notification of the default size.
    EXPECT_EQ(rig.recorder.events(), (Events{"written 2d8f4661", "value 2d8f4661"}));

    // The second characteristic takes no writes; nothing reaches the reader.
    rig.recorder.peripheral()->writeValue({0x01}, rig.second(), WriteType::withResponse);
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events().back(),
              "written 2d8f4662 error " +
                  std::to_string(static_cast<int>(SimulatedBleErrorCode::notSupported)));
    EXPECT_EQ(rig.reader->requests().size(), 1u);
}

TEST(BleCentral, AnswersAreLostWithoutSubscription) {
    ReaderRig rig;
    rig.connect();
    rig.reader->putTag(blankTag());
    rig.recorder.peripheral()->setNotifyValue(false, rig.transfer());
    rig.loop.waitIdle();
    rig.send(requestOf({0xB0, 0x01, 0x00}));
    rig.loop.waitIdle();
    EXPECT_TRUE(rig.recorder.notifications().empty());

    // Answers on the second characteristic arrive there, as it still notifies.
    rig.reader->setAnswerCharacteristic(std::string(SimulatedFeigReader::kSecondCharacteristicUuid));
    rig.send(requestOf({0xB0, 0x01, 0x00}));
    ASSERT_TRUE(rig.recorder.takeFrame());
    EXPECT_EQ(rig.recorder.notifications().at(0).characteristicUuid,
              SimulatedFeigReader::kSecondCharacteristicUuid);
}

TEST(BleCentral, CancelDisconnectsAndAReconnectionNeedsNewDiscovery) {
    ReaderRig rig;
    rig.connect();
    const auto peripheral = rig.recorder.peripheral();
    const auto oldTransfer = rig.transfer();
    rig.central->cancelPeripheralConnection(peripheral);
    rig.central->cancelPeripheralConnection(peripheral); // not connected any more: nothing
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events(), Events{"disconnect"});
    EXPECT_EQ(peripheral->state(), PeripheralState::disconnected);
    EXPECT_TRUE(peripheral->services().empty());
    EXPECT_FALSE(rig.reader->isConnected());

    // Nothing without a connection: no write, no discovery.
    rig.send(requestOf({0xB0, 0x01, 0x00}));
    peripheral->discoverServices(std::nullopt);
    rig.loop.waitIdle();
    EXPECT_TRUE(rig.reader->requests().empty());

    rig.central->connect(peripheral);
    ASSERT_TRUE(rig.recorder.waitForEvent("connect"));
    // The old connection's characteristic is dead on the new one.
    peripheral->writeValue(requestOf({0xB0, 0x01, 0x00}), oldTransfer, WriteType::withResponse);
    rig.loop.waitIdle();
    EXPECT_TRUE(rig.reader->requests().empty());
    EXPECT_EQ(rig.recorder.events(), (Events{"disconnect", "connect"}));
}

TEST(BleCentral, CancellingAConnectionAttemptReportsADisconnectionAndNoConnection) {
    ReaderRig rig;
    rig.central->scanForPeripherals();
    rig.loop.waitIdle();
    rig.recorder.clearEvents();
    rig.loop.sync([&] {
        rig.central->connect(rig.recorder.peripheral());
        rig.central->cancelPeripheralConnection(rig.recorder.peripheral());
    });
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events(), Events{"disconnect"});
}

TEST(BleCentral, PowerOffWhileConnectedReportsTheStateThenTheDisconnection) {
    ReaderRig rig;
    rig.connect();
    rig.central->scanForPeripherals();
    rig.radio.powerOff();
    rig.loop.waitIdle();
    const std::string error =
        " error " + std::to_string(static_cast<int>(SimulatedBleErrorCode::bluetoothUnavailable));
    EXPECT_EQ(rig.recorder.events(), (Events{"state poweredOff", "disconnect" + error}));
    EXPECT_FALSE(rig.central->isScanning());
    EXPECT_FALSE(rig.reader->isConnected());

    // Off: no scan, no connection; cancelling the lost connection reports nothing more.
    rig.central->cancelPeripheralConnection(rig.recorder.peripheral());
    rig.central->scanForPeripherals();
    rig.central->connect(rig.recorder.peripheral());
    rig.loop.waitIdle();
    EXPECT_FALSE(rig.central->isScanning());
    EXPECT_EQ(rig.recorder.events().size(), 2u);

    rig.radio.powerOn();
    rig.central->connect(rig.recorder.peripheral());
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events(),
              (Events{"state poweredOff", "disconnect" + error, "state poweredOn", "connect"}));
}

TEST(BleCentral, RefusedPermissionIsTheUnauthorizedState) {
    ReaderRig rig;
    rig.radio.refusePermission();
    rig.central->scanForPeripherals();
    rig.loop.waitIdle();
    EXPECT_EQ(rig.central->state(), CentralState::unauthorized);
    EXPECT_EQ(rig.recorder.events(), (Events{"state poweredOn", "state unauthorized"}));
    EXPECT_FALSE(rig.central->isScanning());

    SimulatedRadio refused(CentralState::unauthorized);
    BleRecorder recorder(rig.loop);
    const auto central = refused.makeCentral(recorder, rig.loop);
    rig.loop.waitIdle();
    EXPECT_EQ(recorder.events(), Events{"state unauthorized"});
}

TEST(BleCentral, TheDeviceEndingOrLeavingReportsADisconnectionWithAnError) {
    ReaderRig rig;
    rig.connect();
    rig.reader->disconnect();
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events(),
              Events{"disconnect error " +
                     std::to_string(static_cast<int>(SimulatedBleErrorCode::peerDisconnected))});

    rig.central->connect(rig.recorder.peripheral());
    ASSERT_TRUE(rig.recorder.waitForEvent("connect"));
    rig.radio.removeDevice(rig.reader);
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events().back(),
              "disconnect error " + std::to_string(static_cast<int>(SimulatedBleErrorCode::connectionLost)));

    rig.central->connect(rig.recorder.peripheral()); // out of range now
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events().back(),
              "fail error " + std::to_string(static_cast<int>(SimulatedBleErrorCode::deviceUnavailable)));
}

TEST(BleCentral, OneCentralAtATimeConnectsToADevice) {
    ReaderRig rig;
    rig.connect();
    BleRecorder recorder(rig.loop);
    auto central = rig.radio.makeCentral(recorder, rig.loop);
    central->scanForPeripherals();
    rig.loop.waitIdle();
    EXPECT_FALSE(recorder.peripheral()); // the connected reader does not advertise

    // Once the first central is gone its connection ends and the reader advertises again.
    rig.central.reset();
    EXPECT_FALSE(rig.reader->isConnected());
    rig.radio.advertise(*rig.reader);
    rig.loop.waitIdle();
    ASSERT_TRUE(recorder.peripheral());
    central->connect(recorder.peripheral());
    EXPECT_TRUE(recorder.waitForEvent("connect"));
}

TEST(BleCentral, NoCallbackRunsOnceTheCentralOrTheDelegateIsGone) {
    ReaderRig rig;
    rig.connect();
    rig.reader->putTag(blankTag());
    rig.recorder.peripheral()->setDelegate(nullptr);
    rig.send(requestOf({0xB0, 0x01, 0x00}));
    rig.loop.waitIdle();
    EXPECT_TRUE(rig.recorder.events().empty());
    EXPECT_EQ(rig.reader->requests().size(), 1u);

    // A central destroyed from another thread with callbacks queued, and its delegate right
    // after: a late callback would touch freed memory.
    auto recorder = std::make_unique<BleRecorder>(rig.loop);
    auto central = rig.radio.makeCentral(*recorder, rig.loop);
    std::promise<void> gate;
    rig.loop.async([opened = gate.get_future().share()] { opened.wait(); });
    central->scanForPeripherals();
    rig.radio.powerOff();
    central.reset();
    recorder.reset();
    gate.set_value();
    rig.loop.waitIdle();

    // And one destroyed by its own callback.
    BleRecorder selfRecorder(rig.loop);
    std::unique_ptr<CentralManager> selfDestroying;
    struct Destroyer : CentralManagerDelegate {
        std::unique_ptr<CentralManager>* owner = nullptr;
        int states = 0;
        void centralManagerDidUpdateState(CentralManager&) override {
            ++states;
            owner->reset();
        }
        void didDiscover(CentralManager&, const std::shared_ptr<Peripheral>&, const AdvertisementData&,
                         int) override {}
        void didConnect(CentralManager&, const std::shared_ptr<Peripheral>&) override {}
        void didDisconnectPeripheral(CentralManager&, const std::shared_ptr<Peripheral>&,
                                     const std::optional<BleError>&) override {}
    } destroyer;
    destroyer.owner = &selfDestroying;
    rig.radio.powerOn();
    rig.loop.sync([&] {
        selfDestroying = rig.radio.makeCentral(destroyer, rig.loop);
        rig.radio.powerOff(); // a second state callback, queued behind the first
    });
    rig.loop.waitIdle();
    EXPECT_EQ(destroyer.states, 1);
    EXPECT_FALSE(selfDestroying);
}

} // namespace
} // namespace wynfc::test
