#include "ble_test_support.h"

#include <gtest/gtest.h>

#include <future>

namespace wynfc::test {
namespace {

const Bytes kInventory = requestOf({0xB0, 0x01, 0x00});

TEST(BleCentral, ReportsTheRadioStateSoonAfterCreationAndOnEveryChange) {
    EventLoop loop;
    for (const CentralState state :
         {CentralState::poweredOn, CentralState::poweredOff, CentralState::unauthorized}) {
        SimulatedRadio radio(state);
        BleRecorder recorder(loop);
        const auto central = radio.centralFactory(loop)(recorder);
        loop.waitIdle();
        EXPECT_EQ(recorder.events().size(), 1u);
        EXPECT_EQ(central->state(), state);
    }

    // Refusing the permission is the unauthorized state: the connection ends, no scan.
    ReaderRig rig;
    rig.connect();
    EXPECT_EQ(rig.eventsOf([&] {
        rig.radio.refusePermission();
        rig.central->scanForPeripherals();
    }),
              (Events{"state unauthorized",
                      "disconnect" + errorText(SimulatedBleErrorCode::bluetoothUnavailable)}));
    EXPECT_FALSE(rig.central->isScanning());
}

TEST(BleCentral, ScanHearsDevicesInRangeOnlyWhileScanningAndAlwaysAsTheSamePeripheral) {
    ReaderRig rig;
    auto silent = std::make_shared<SimulatedFeigReader>(Timing{}, FeigReaderIdentity{"silent", {}, {}});
    rig.radio.addDevice(silent);
    EXPECT_EQ(rig.eventsOf([&] { rig.central->scanForPeripherals(); }),
              (Events{"discover " + rig.reader->identifier(), "discover silent"}));
    const auto peripheral = rig.recorder.peripheral();
    EXPECT_FALSE(rig.recorder.lastAdvertisement()->serviceUuids); // none advertised: absent, not empty
    EXPECT_EQ(rig.eventsOf([&] { rig.radio.advertise(*silent); }), Events{"discover silent"});
    EXPECT_EQ(rig.recorder.peripheral(), peripheral);
    EXPECT_TRUE(rig.eventsOf([&] {
                       rig.central->stopScan();
                       rig.radio.advertise(*silent);
                   })
                    .empty());
}

TEST(BleCentral, WritesAreAcknowledgedBeforeTheAnswerAndAnswersNeedASubscription) {
    ReaderRig rig;
    rig.connect();
    rig.reader->putTag(blankTag());
    EXPECT_EQ(rig.eventsOf([&] { rig.send(kInventory); }), (Events{"written 2d8f4661", "value 2d8f4661"}));
    // The second characteristic takes no writes; nothing reaches the reader.
    EXPECT_EQ(rig.eventsOf([&] {
        rig.recorder.peripheral()->writeValue({0x01}, rig.second(), WriteType::withResponse);
    }),
              Events{"written 2d8f4662" + errorText(SimulatedBleErrorCode::notSupported)});
    EXPECT_EQ(rig.reader->requests().size(), 1u);

    EXPECT_EQ(rig.eventsOf([&] {
        rig.recorder.peripheral()->setNotifyValue(false, rig.transfer());
        rig.send(kInventory);
    }),
              (Events{"notifying 2d8f4661 off", "written 2d8f4661"}));
    // Answers on the second characteristic arrive there, as it still notifies.
    rig.reader->setAnswerCharacteristic(std::string(SimulatedFeigReader::kSecondCharacteristicUuid));
    EXPECT_EQ(rig.eventsOf([&] { rig.send(kInventory); }), (Events{"written 2d8f4661", "value 2d8f4662"}));
}

TEST(BleCentral, CancelDisconnectsOnceAndAReconnectionNeedsNewDiscovery) {
    ReaderRig rig;
    rig.connect();
    const auto peripheral = rig.recorder.peripheral();
    const auto oldTransfer = rig.transfer();
    // Without a connection a second cancel, a write or a discovery does nothing.
    EXPECT_EQ(rig.eventsOf([&] {
        rig.central->cancelPeripheralConnection(peripheral);
        rig.central->cancelPeripheralConnection(peripheral);
        rig.send(kInventory);
        peripheral->discoverServices(std::nullopt);
    }),
              Events{"disconnect"});
    EXPECT_EQ(peripheral->state(), PeripheralState::disconnected);
    EXPECT_TRUE(peripheral->services().empty());
    EXPECT_FALSE(rig.reader->isConnected());

    // The old connection's characteristic is dead on the new one.
    EXPECT_EQ(rig.eventsOf([&] { rig.central->connect(peripheral); }), Events{"connect"});
    EXPECT_TRUE(
        rig.eventsOf([&] { peripheral->writeValue(kInventory, oldTransfer, WriteType::withResponse); })
            .empty());
    EXPECT_TRUE(rig.reader->requests().empty());

    // Cancelling an attempt reports a disconnection and no connection.
    rig.central->cancelPeripheralConnection(peripheral);
    EXPECT_EQ(rig.eventsOf([&] {
        rig.loop.sync([&] {
            rig.central->connect(peripheral);
            rig.central->cancelPeripheralConnection(peripheral);
        });
    }),
              Events{"disconnect"});
}

TEST(BleCentral, PowerOffWhileConnectedReportsTheStateThenTheDisconnection) {
    ReaderRig rig;
    rig.connect();
    rig.central->scanForPeripherals();
    EXPECT_EQ(
        rig.eventsOf([&] { rig.radio.powerOff(); }),
        (Events{"state poweredOff", "disconnect" + errorText(SimulatedBleErrorCode::bluetoothUnavailable)}));
    EXPECT_FALSE(rig.central->isScanning());
    EXPECT_FALSE(rig.reader->isConnected());

    // Off: no scan, no connection; cancelling the lost connection reports nothing more.
    EXPECT_TRUE(rig.eventsOf([&] {
                       rig.central->cancelPeripheralConnection(rig.recorder.peripheral());
                       rig.central->scanForPeripherals();
                       rig.central->connect(rig.recorder.peripheral());
                   })
                    .empty());
    EXPECT_FALSE(rig.central->isScanning());
    EXPECT_EQ(rig.eventsOf([&] {
        rig.radio.powerOn();
        rig.central->connect(rig.recorder.peripheral());
    }),
              (Events{"state poweredOn", "connect"}));
}

TEST(BleCentral, TheDeviceEndingOrLeavingReportsADisconnectionWithAnError) {
    ReaderRig rig;
    rig.connect();
    const auto peripheral = rig.recorder.peripheral();
    EXPECT_EQ(rig.eventsOf([&] { rig.reader->disconnect(); }),
              Events{"disconnect" + errorText(SimulatedBleErrorCode::peerDisconnected)});
    EXPECT_EQ(rig.eventsOf([&] { rig.central->connect(peripheral); }), Events{"connect"});
    EXPECT_EQ(rig.eventsOf([&] { rig.radio.removeDevice(rig.reader); }),
              Events{"disconnect" + errorText(SimulatedBleErrorCode::connectionLost)});
    EXPECT_EQ(rig.eventsOf([&] { rig.central->connect(peripheral); }),
              Events{"fail" + errorText(SimulatedBleErrorCode::deviceUnavailable)});
}

TEST(BleCentral, OneCentralAtATimeConnectsToADevice) {
    ReaderRig rig;
    rig.connect();
    BleRecorder recorder(rig.loop);
    auto central = rig.radio.makeCentral(recorder, rig.loop);
    central->scanForPeripherals();
    rig.radio.advertise(*rig.reader);
    rig.loop.waitIdle();
    EXPECT_FALSE(recorder.peripheral()); // the connected reader does not advertise

    // Once the first central is gone its connection ends and the reader advertises again.
    rig.central.reset();
    EXPECT_FALSE(rig.reader->isConnected());
    rig.radio.advertise(*rig.reader);
    rig.loop.waitIdle();
    ASSERT_TRUE(recorder.peripheral());
    central->connect(recorder.peripheral());
    rig.loop.waitIdle();
    EXPECT_EQ(recorder.events().back(), "connect");
}

TEST(BleCentral, NoCallbackRunsOnceTheCentralOrTheDelegateIsGone) {
    ReaderRig rig;
    rig.connect();
    rig.reader->putTag(blankTag());
    rig.recorder.peripheral()->setDelegate(nullptr);
    EXPECT_TRUE(rig.eventsOf([&] { rig.send(kInventory); }).empty());

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
    struct Destroyer : BleRecorder {
        using BleRecorder::BleRecorder;
        std::unique_ptr<CentralManager> owned;
        void centralManagerDidUpdateState(CentralManager& central) override {
            BleRecorder::centralManagerDidUpdateState(central);
            owned.reset();
        }
    } destroyer(rig.loop);
    rig.radio.powerOn();
    rig.loop.sync([&] {
        destroyer.owned = rig.radio.makeCentral(destroyer, rig.loop);
        rig.radio.powerOff(); // a second state callback, queued behind the first
    });
    rig.loop.waitIdle();
    EXPECT_EQ(destroyer.events(), Events{"state poweredOn"});
    EXPECT_FALSE(destroyer.owned);
}

} // namespace
} // namespace wynfc::test
