#include "ble_test_support.h"

#include <gtest/gtest.h>

#include <future>
#include <utility>

namespace wynfc::test {
namespace {

const std::string kReaderId = FeigReaderIdentity{}.identifier;
const Bytes kInventory = requestOf({0xB0, 0x01, 0x00});

// A device that advertises what a test gives it and ignores writes.
class PlainDevice : public SimulatedDevice {
public:
    PlainDevice(std::string identifier, std::optional<std::vector<std::string>> services)
        : SimulatedDevice(std::move(identifier), std::nullopt,
                          AdvertisementData{std::nullopt, std::move(services)}, {}) {}

protected:
    void onWrite(ConnectionId, const std::string&, const Value&) override {}
};

TEST(BleCentral, ReportsTheRadioStateSoonAfterCreationAndOnEveryChange) {
    EventLoop loop;
    for (const auto& [state, event] : std::vector<std::pair<CentralState, std::string>>{
             {CentralState::poweredOn, "state poweredOn"},
             {CentralState::poweredOff, "state poweredOff"},
             {CentralState::unauthorized, "state unauthorized"}}) {
        SimulatedRadio radio(state);
        BleRecorder recorder(loop);
        const auto central = radio.centralFactory(loop)(recorder);
        loop.waitIdle();
        EXPECT_EQ(recorder.events(), Events{event});
        EXPECT_EQ(central->state(), state);
    }

    // The user refusing the permission is the unauthorized state: no scan.
    ReaderRig rig;
    rig.radio.refusePermission();
    rig.central->scanForPeripherals();
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events(), (Events{"state poweredOn", "state unauthorized"}));
    EXPECT_FALSE(rig.central->isScanning());
}

TEST(BleCentral, ScanHearsDevicesInRangeAndRepeatedAdvertisementsAsTheSamePeripheral) {
    ReaderRig rig;
    auto other = std::make_shared<PlainDevice>("other", std::vector<std::string>{"180F", "not a uuid"});
    auto silent = std::make_shared<PlainDevice>("silent", std::nullopt);
    rig.radio.addDevice(other);
    rig.radio.addDevice(silent);
    rig.central->scanForPeripherals();
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events(),
              (Events{"state poweredOn", "discover " + kReaderId, "discover other", "discover silent"}));
    const auto silentPeripheral = rig.recorder.peripheral();
    EXPECT_FALSE(rig.recorder.lastAdvertisement()->serviceUuids);

    rig.radio.advertise(*other);
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.lastAdvertisement()->serviceUuids,
              (std::vector<std::string>{"180F", "not a uuid"}));
    rig.radio.advertise(*silent);
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.peripheral(), silentPeripheral);

    rig.central->stopScan();
    rig.radio.advertise(*silent);
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events().size(), 6u);
}

TEST(BleCentral, ConnectsDiscoversAndSubscribesInOrder) {
    ReaderRig rig;
    rig.central->scanForPeripherals();
    rig.loop.waitIdle();
    const auto peripheral = rig.recorder.peripheral();
    EXPECT_EQ(peripheral->name(), FeigReaderIdentity{}.name);
    EXPECT_EQ(rig.recorder.lastAdvertisement()->serviceUuids,
              std::vector<std::string>{std::string(SimulatedFeigReader::kServiceUuid)});

    rig.recorder.clearEvents();
    rig.loop.sync([&] { // the connection completes in a later task
        rig.central->connect(peripheral);
        EXPECT_EQ(peripheral->state(), PeripheralState::connecting);
    });
    rig.loop.waitIdle();
    EXPECT_EQ(peripheral->state(), PeripheralState::connected);
    rig.radio.advertise(*rig.reader); // a connected reader does not advertise
    // UUIDs match regardless of case.
    peripheral->discoverServices(std::vector<std::string>{"2D8F4660-8ACB-11EA-AB12-0800200C9A66"});
    rig.loop.waitIdle();
    peripheral->discoverCharacteristics(
        std::vector<std::string>{std::string(SimulatedFeigReader::kTransferCharacteristicUuid),
                                 std::string(SimulatedFeigReader::kSecondCharacteristicUuid)},
        peripheral->services().at(0));
    rig.loop.waitIdle();
    ASSERT_TRUE(rig.transfer() && rig.second());
    EXPECT_TRUE(rig.transfer()->properties().write);
    EXPECT_FALSE(rig.second()->properties().write);
    peripheral->setNotifyValue(true, rig.transfer());
    peripheral->setNotifyValue(true, rig.second());
    rig.loop.waitIdle();
    EXPECT_TRUE(rig.transfer()->isNotifying());
    EXPECT_EQ(rig.recorder.events(), (Events{"connect", "services 1", "characteristics 2",
                                             "notifying 2d8f4661 on", "notifying 2d8f4662 on"}));
}

TEST(BleCentral, WritesAreAcknowledgedBeforeTheAnswerAndAnswersNeedASubscription) {
    ReaderRig rig;
    rig.connect();
    rig.reader->putTag(blankTag());
    rig.send(kInventory);
    ASSERT_TRUE(rig.recorder.takeFrame());
    EXPECT_EQ(rig.recorder.events(), (Events{"written 2d8f4661", "value 2d8f4661"}));

    // The second characteristic takes no writes; nothing reaches the reader.
    rig.recorder.peripheral()->writeValue({0x01}, rig.second(), WriteType::withResponse);
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events().back(),
              "written 2d8f4662" + errorText(SimulatedBleErrorCode::notSupported));
    EXPECT_EQ(rig.reader->requests().size(), 1u);

    rig.recorder.peripheral()->setNotifyValue(false, rig.transfer());
    rig.loop.waitIdle();
    rig.send(kInventory);
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.notifications().size(), 1u);
    // Answers on the second characteristic arrive there, as it still notifies.
    rig.reader->setAnswerCharacteristic(std::string(SimulatedFeigReader::kSecondCharacteristicUuid));
    rig.send(kInventory);
    ASSERT_TRUE(rig.recorder.takeFrame());
    EXPECT_EQ(rig.recorder.events().back(), "value 2d8f4662");
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
    rig.send(kInventory);
    peripheral->discoverServices(std::nullopt);
    rig.loop.waitIdle();
    rig.central->connect(peripheral);
    ASSERT_TRUE(rig.recorder.waitForEvent("connect"));
    // The old connection's characteristic is dead on the new one.
    peripheral->writeValue(kInventory, oldTransfer, WriteType::withResponse);
    rig.loop.waitIdle();
    EXPECT_TRUE(rig.reader->requests().empty());
    EXPECT_EQ(rig.recorder.events(), (Events{"disconnect", "connect"}));

    // Cancelling an attempt reports a disconnection and no connection.
    rig.central->cancelPeripheralConnection(peripheral);
    rig.loop.waitIdle();
    rig.recorder.clearEvents();
    rig.loop.sync([&] {
        rig.central->connect(peripheral);
        rig.central->cancelPeripheralConnection(peripheral);
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
    const Events afterPowerOff{"state poweredOff",
                               "disconnect" + errorText(SimulatedBleErrorCode::bluetoothUnavailable)};
    EXPECT_EQ(rig.recorder.events(), afterPowerOff);
    EXPECT_FALSE(rig.central->isScanning());
    EXPECT_FALSE(rig.reader->isConnected());

    // Off: no scan, no connection; cancelling the lost connection reports nothing more.
    rig.central->cancelPeripheralConnection(rig.recorder.peripheral());
    rig.central->scanForPeripherals();
    rig.central->connect(rig.recorder.peripheral());
    rig.loop.waitIdle();
    EXPECT_FALSE(rig.central->isScanning());
    EXPECT_EQ(rig.recorder.events(), afterPowerOff);

    rig.radio.powerOn();
    rig.central->connect(rig.recorder.peripheral());
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events().size(), 4u);
    EXPECT_EQ(rig.recorder.events().at(2), "state poweredOn");
    EXPECT_EQ(rig.recorder.events().back(), "connect");
}

TEST(BleCentral, TheDeviceEndingOrLeavingReportsADisconnectionWithAnError) {
    ReaderRig rig;
    rig.connect();
    rig.reader->disconnect();
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events(),
              Events{"disconnect" + errorText(SimulatedBleErrorCode::peerDisconnected)});

    rig.central->connect(rig.recorder.peripheral());
    ASSERT_TRUE(rig.recorder.waitForEvent("connect"));
    rig.radio.removeDevice(rig.reader);
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events().back(), "disconnect" + errorText(SimulatedBleErrorCode::connectionLost));
    rig.central->connect(rig.recorder.peripheral()); // out of range now
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events().back(), "fail" + errorText(SimulatedBleErrorCode::deviceUnavailable));
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
    rig.send(kInventory);
    rig.loop.waitIdle();
    EXPECT_TRUE(rig.recorder.events().empty());

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
    struct Destroyer : CentralManagerDelegate {
        std::unique_ptr<CentralManager> owned;
        int states = 0;
        void centralManagerDidUpdateState(CentralManager&) override {
            ++states;
            owned.reset();
        }
        void didDiscover(CentralManager&, const std::shared_ptr<Peripheral>&, const AdvertisementData&,
                         int) override {}
        void didConnect(CentralManager&, const std::shared_ptr<Peripheral>&) override {}
        void didDisconnectPeripheral(CentralManager&, const std::shared_ptr<Peripheral>&,
                                     const std::optional<BleError>&) override {}
    } destroyer;
    rig.radio.powerOn();
    rig.loop.sync([&] {
        destroyer.owned = rig.radio.makeCentral(destroyer, rig.loop);
        rig.radio.powerOff(); // a second state callback, queued behind the first
    });
    rig.loop.waitIdle();
    EXPECT_EQ(destroyer.states, 1);
    EXPECT_FALSE(destroyer.owned);
}

} // namespace
} // namespace wynfc::test
