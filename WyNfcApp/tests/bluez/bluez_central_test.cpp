#include "bluez_test_support.h"

#include "platform/sim/feig_frame.h"
#include "platform/sim/virtual_tag.h"
#include "tests/linux/linux_test_support.h"

#include <gtest/gtest.h>

namespace wynfc::test {
namespace {

const Bytes kInventory = feig::requestFrame(Bytes{0xB0, 0x01, 0x00});

const std::string kDecoyAddress = "AA:00:00:00:00:02";
const std::string kNamelessAddress = "AA:00:00:00:00:03";
const std::string kLateAddress = "AA:00:00:00:00:04";
const std::string kEchoAddress = "EC:00:00:00:00:01";

std::string short8(const std::string& uuid) {
    return uuid.substr(0, 8);
}

std::shared_ptr<VirtualTag> blankTag() {
    return std::make_shared<VirtualTag>(
        TagImage::blank(Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xE0}, 64));
}

TEST(BluezCentral, IsUnsupportedWithoutBluezAndFollowsItJoiningAndLeavingTheSystemBus) {
    BluezRig rig;
    {
        // No bus at all.
        BluezCentral::Options options = rig.options();
        options.busAddress = "unix:path=/nonexistent/wynfc-no-bus";
        BluezCentral central(rig.recorder, *rig.loop.queue(), options);
        EXPECT_EQ(rig.recorder.takeUntil("state unsupported"), Events{"state unsupported"});
    }

    // The system bus is the one DBUS_SYSTEM_BUS_ADDRESS names.
    rig.fake.leaveBus();
    const ScopedEnv systemBus("DBUS_SYSTEM_BUS_ADDRESS", rig.bus.address());
    BluezCentral::Options options;
    options.timing = rig.timing;
    rig.central = std::make_unique<BluezCentral>(rig.recorder, *rig.loop.queue(), options);
    EXPECT_EQ(rig.recorder.takeUntil("state unsupported"), Events{"state unsupported"});
    EXPECT_EQ(rig.central->state(), CentralState::unsupported);
    rig.fake.joinBus();
    EXPECT_EQ(rig.recorder.takeUntil("state poweredOn"), Events{"state poweredOn"});
    rig.fake.leaveBus();
    EXPECT_EQ(rig.recorder.takeUntil("state unsupported"), Events{"state unsupported"});
    rig.fake.joinBus();
    EXPECT_EQ(rig.recorder.takeUntil("state poweredOn"), Events{"state poweredOn"});
}

TEST(BluezCentral, FollowsThePowerAndTheAdapterAndStopsScanningWhenTheRadioGoesOff) {
    BluezRig rig;
    rig.start();
    rig.central->scanForPeripherals();
    EXPECT_TRUE(rig.fake.waitFor([](const FakeState& s) { return s.discovering; }, kPatience));
    EXPECT_EQ(rig.fake.state().discoveryTransport, "le");

    rig.fake.setPowered(false);
    EXPECT_EQ(rig.recorder.takeUntil("state poweredOff"), Events{"state poweredOff"});
    EXPECT_FALSE(rig.central->isScanning());
    rig.central->scanForPeripherals(); // does nothing while off
    EXPECT_FALSE(rig.central->isScanning());

    rig.fake.setPowered(true);
    EXPECT_EQ(rig.recorder.takeUntil("state poweredOn"), Events{"state poweredOn"});
    rig.fake.removeAdapter();
    EXPECT_EQ(rig.recorder.takeUntil("state unsupported"), Events{"state unsupported"});
    rig.fake.addAdapter();
    EXPECT_EQ(rig.recorder.takeUntil("state poweredOn"), Events{"state poweredOn"});
}

TEST(BluezCentral, AccessRefusedByTheBusPolicyOrByPolkitIsUnauthorized) {
    {
        BluezRig rig(PrivateBus::Options{.refuseBluez = true});
        rig.central = std::make_unique<BluezCentral>(rig.recorder, *rig.loop.queue(), rig.options());
        EXPECT_EQ(rig.recorder.takeUntil("state unauthorized"), Events{"state unauthorized"});
        rig.central->scanForPeripherals();
        EXPECT_FALSE(rig.central->isScanning());
    }
    BluezRig rig;
    rig.start();
    rig.fake.refuse("StartDiscovery", "org.bluez.Error.NotAuthorized");
    rig.central->scanForPeripherals();
    EXPECT_EQ(rig.recorder.takeUntil("state unauthorized"), Events{"state unauthorized"});
    EXPECT_FALSE(rig.central->isScanning());
    EXPECT_FALSE(rig.fake.state().discovering);
}

TEST(BluezCentral, DiscoveryReportsEveryDeviceHeardWithWhatItAdvertisesAsOnePeripheralEach) {
    BluezRig rig;
    rig.start();
    rig.addReader();
    rig.fake.addDevice(FakeDevice{kDecoyAddress, "Heart rate",
                                  std::vector<std::string>{"0000180d-0000-1000-8000-00805f9b34fb"}, -70,
                                  nullptr});
    rig.fake.addDevice(FakeDevice{kNamelessAddress, std::nullopt, std::nullopt, -80, nullptr});
    rig.fake.addDevice(FakeDevice{kLateAddress, "Late reader", std::nullopt, -60, nullptr});

    rig.central->scanForPeripherals();
    EXPECT_EQ(rig.recorder.takeUntil("discover " + kLateAddress),
              (Events{"discover " + kReaderAddress, "discover " + kDecoyAddress,
                      "discover " + kNamelessAddress, "discover " + kLateAddress}));
    EXPECT_EQ(rig.fake.state().discoveryTransport, "le");

    const auto reader = rig.recorder.peripheral(kReaderAddress);
    EXPECT_EQ(reader->name(), "HF-BLE reader");
    EXPECT_EQ(rig.recorder.advertisement(kReaderAddress).localName, "HF-BLE reader");
    EXPECT_EQ(rig.recorder.advertisement(kReaderAddress).serviceUuids,
              std::vector<std::string>{kReaderService});
    // No name: none at all, not BlueZ's alias made of the address; no UUIDs: absent, not empty.
    EXPECT_EQ(rig.recorder.peripheral(kNamelessAddress)->name(), std::nullopt);
    EXPECT_EQ(rig.recorder.advertisement(kNamelessAddress).localName, std::nullopt);
    EXPECT_EQ(rig.recorder.advertisement(kNamelessAddress).serviceUuids, std::nullopt);

    // UUIDs that arrive later are a new discovery of the same peripheral.
    const auto late = rig.recorder.peripheral(kLateAddress);
    EXPECT_EQ(rig.recorder.advertisement(kLateAddress).serviceUuids, std::nullopt);
    rig.fake.setUuids(kLateAddress, std::vector<std::string>{kReaderService});
    EXPECT_EQ(rig.recorder.takeUntil("discover " + kLateAddress), Events{"discover " + kLateAddress});
    EXPECT_EQ(rig.recorder.advertisement(kLateAddress).serviceUuids,
              std::vector<std::string>{kReaderService});
    EXPECT_EQ(rig.recorder.peripheral(kLateAddress), late);

    rig.fake.advertise(kReaderAddress, -40);
    EXPECT_EQ(rig.recorder.takeUntil("discover " + kReaderAddress), Events{"discover " + kReaderAddress});
    EXPECT_EQ(rig.recorder.peripheral(kReaderAddress), reader);

    rig.central->stopScan();
    EXPECT_TRUE(rig.fake.waitFor([](const FakeState& s) { return !s.discovering; }, kPatience));
    EXPECT_FALSE(rig.central->isScanning());

    // A new central finds the devices BlueZ still lists, once they are heard again.
    rig.central.reset();
    rig.start();
    rig.central->scanForPeripherals();
    rig.recorder.takeUntil("discover " + kReaderAddress);
    EXPECT_EQ(rig.recorder.advertisement(kReaderAddress).serviceUuids, std::vector<std::string>{kReaderService});
}

TEST(BluezCentral, ConnectsOnlyOnceTheServicesAreResolvedAndGivesUpAfterItsTimeout) {
    Timing timing = shortTiming();
    timing.bluetoothConnectTimeout = Millis{300};
    BluezRig rig({}, timing);
    rig.start();
    rig.addReader();
    rig.central->scanForPeripherals();
    rig.recorder.takeUntil("discover " + kReaderAddress);
    const auto peripheral = rig.recorder.peripheral(kReaderAddress);

    // Connected, but the services never resolve: no connection, and BlueZ is told to stop.
    rig.fake.holdServiceDiscovery(true);
    rig.central->connect(peripheral);
    EXPECT_EQ(peripheral->state(), PeripheralState::connecting);
    EXPECT_EQ(rig.recorder.takeUntil(errorEvent("fail", BluezErrorCode::timedOut)),
              Events{errorEvent("fail", BluezErrorCode::timedOut)});
    EXPECT_EQ(peripheral->state(), PeripheralState::disconnected);
    EXPECT_TRUE(rig.fake.waitFor([](const FakeState& s) { return s.connected.empty(); }, kPatience));

    // Cancelled while BlueZ still resolves: a disconnection without error, no connection.
    rig.central->connect(peripheral);
    EXPECT_TRUE(rig.fake.waitFor([](const FakeState& s) { return !s.connected.empty(); }, kPatience));
    rig.central->cancelPeripheralConnection(peripheral);
    Events cancelled = rig.recorder.takeUntil("disconnect");
    std::erase(cancelled, "discover " + kReaderAddress); // heard again when its first link ended
    EXPECT_EQ(cancelled, Events{"disconnect"});
    EXPECT_TRUE(rig.fake.waitFor([](const FakeState& s) { return s.connected.empty(); }, kPatience));

    rig.fake.holdServiceDiscovery(false);
    rig.central->connect(peripheral);
    // The scan still runs: the reader, free again, may be heard once more before it connects.
    Events events = rig.recorder.takeUntil("connect");
    std::erase(events, "discover " + kReaderAddress);
    EXPECT_EQ(events, Events{"connect"});
    EXPECT_EQ(peripheral->state(), PeripheralState::connected);
}

TEST(BluezCentral, TheReaderAnswersThroughNotificationsInOrderWhateverTheirSizes) {
    BluezRig rig;
    rig.start();
    const auto feig = rig.addReader();
    feig->putTag(blankTag());
    const auto peripheral = rig.connectAndSubscribe(kReaderAddress, kReaderService, 2);
    EXPECT_TRUE(rig.fake.waitFor([](const FakeState& s) { return s.notifying.size() == 2; }, kPatience));
    const auto transfer = rig.recorder.characteristic(kTransferUuid);
    ASSERT_TRUE(transfer);
    EXPECT_TRUE(transfer->properties().write && transfer->properties().notify);
    EXPECT_FALSE(rig.recorder.characteristic(kSecondUuid)->properties().write);

    peripheral->writeValue(kInventory, transfer, WriteType::withResponse);
    EXPECT_EQ(rig.recorder.takeUntil("value " + short8(kTransferUuid)),
              (Events{"written " + short8(kTransferUuid), "value " + short8(kTransferUuid)}));
    const Bytes answer = rig.recorder.notifications().at(0);
    ASSERT_GT(answer.size(), 6u);
    EXPECT_EQ(answer[5], feig::kStatusOk);

    // The same answer split into pieces arrives as those pieces, in order, an empty one too.
    feig->planNextAnswer(FeigAnswerPlan::splitInto({1, 5, 0, 3}));
    peripheral->writeValue(kInventory, transfer, WriteType::withResponse);
    const auto pieces = rig.recorder.waitForNotifications(6);
    ASSERT_EQ(pieces.size(), 6u);
    EXPECT_EQ(pieces[1], Bytes(answer.begin(), answer.begin() + 1));
    EXPECT_EQ(pieces[2], Bytes(answer.begin() + 1, answer.begin() + 6));
    EXPECT_EQ(pieces[3], Bytes{});
    Bytes joined;
    for (std::size_t n = 1; n < pieces.size(); ++n) {
        joined.insert(joined.end(), pieces[n].begin(), pieces[n].end());
    }
    EXPECT_EQ(joined, answer);
    for (const FakeWrite& write : rig.fake.state().writes) {
        EXPECT_EQ(write.type, "request");
    }
}

TEST(BluezCentral, WritesGoOutAsRequestOrCommandAndARepeatedValueArrivesTwice) {
    BluezRig rig;
    rig.start();
    rig.fake.addDevice(FakeDevice{kEchoAddress, "Echo", std::vector<std::string>{EchoDevice::kServiceUuid},
                                  -50, std::make_shared<EchoDevice>(kEchoAddress)});
    const auto peripheral = rig.connectAndSubscribe(kEchoAddress, EchoDevice::kServiceUuid, 1);
    const auto echo = rig.recorder.characteristic(EchoDevice::kCharacteristicUuid);
    ASSERT_TRUE(echo);
    EXPECT_TRUE(echo->properties().write && echo->properties().writeWithoutResponse);

    const Bytes value{0x01, 0x02, 0x03};
    peripheral->writeValue(value, echo, WriteType::withResponse);
    peripheral->writeValue(value, echo, WriteType::withoutResponse);
    rig.recorder.takeUntil("value 0000ec01");
    EXPECT_EQ(rig.recorder.takeUntil("value 0000ec01"), Events{"value 0000ec01"});
    EXPECT_EQ(rig.recorder.notifications(), (std::vector<Bytes>{value, value}));
    const auto writes = rig.fake.state().writes;
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].type, "request");
    EXPECT_EQ(writes[1].type, "command");
    EXPECT_EQ(writes[1].value, value);
}

TEST(BluezCentral, AnAbortedConnectIsTriedAgainAndAFailedOrRefusedOneIsReported) {
    BluezRig rig;
    rig.start();
    rig.addReader();
    rig.central->scanForPeripherals();
    rig.recorder.takeUntil("discover " + kReaderAddress);
    rig.central->stopScan();
    const auto peripheral = rig.recorder.peripheral(kReaderAddress);

    rig.fake.failConnects(2);
    rig.central->connect(peripheral);
    EXPECT_EQ(rig.recorder.takeUntil("connect"), Events{"connect"});
    EXPECT_EQ(rig.fake.state().connectCalls, 3);
    rig.central->cancelPeripheralConnection(peripheral);
    rig.recorder.takeUntil("disconnect");

    rig.fake.failConnects(3);
    rig.central->connect(peripheral);
    EXPECT_EQ(rig.recorder.takeUntil(errorEvent("fail", BluezErrorCode::failed)),
              Events{errorEvent("fail", BluezErrorCode::failed)});
    EXPECT_EQ(rig.fake.state().connectCalls, 6);
    EXPECT_EQ(peripheral->state(), PeripheralState::disconnected);

    // Refused: no second try, and the central is unauthorized.
    rig.fake.failConnects(1, "org.bluez.Error.NotAuthorized", "Not Authorized");
    rig.central->connect(peripheral);
    EXPECT_EQ(rig.recorder.takeUntil("state unauthorized"),
              (Events{errorEvent("fail", BluezErrorCode::notAuthorized), "state unauthorized"}));
    EXPECT_EQ(rig.fake.state().connectCalls, 7);
}

TEST(BluezCentral, ALostLinkIsReportedOnceWithAnErrorAfterTheStateThatCausedIt) {
    BluezRig rig;
    rig.start();
    rig.addReader();
    const auto peripheral = rig.connect(kReaderAddress);

    rig.fake.dropLink(kReaderAddress);
    EXPECT_EQ(rig.recorder.takeUntil(errorEvent("disconnect", BluezErrorCode::connectionLost)),
              Events{errorEvent("disconnect", BluezErrorCode::connectionLost)});
    rig.central->cancelPeripheralConnection(peripheral); // nothing left to end
    EXPECT_EQ(peripheral->state(), PeripheralState::disconnected);

    rig.central->connect(peripheral);
    rig.recorder.takeUntil("connect");
    rig.fake.setPowered(false);
    EXPECT_EQ(rig.recorder.takeUntil(errorEvent("disconnect", BluezErrorCode::bluetoothUnavailable)),
              (Events{"state poweredOff", errorEvent("disconnect", BluezErrorCode::bluetoothUnavailable)}));

    rig.fake.setPowered(true);
    rig.recorder.takeUntil("state poweredOn");
    rig.central->connect(peripheral);
    rig.recorder.takeUntil("connect");
    rig.fake.leaveBus();
    EXPECT_EQ(rig.recorder.takeUntil(errorEvent("disconnect", BluezErrorCode::bluetoothUnavailable)),
              (Events{"state unsupported", errorEvent("disconnect", BluezErrorCode::bluetoothUnavailable)}));

    // BlueZ back: the device is heard again as the same peripheral, and connects.
    rig.fake.joinBus();
    rig.recorder.takeUntil("state poweredOn");
    EXPECT_EQ(rig.connect(kReaderAddress), peripheral);
    rig.fake.removeDevice(kReaderAddress);
    EXPECT_EQ(rig.recorder.takeUntil(errorEvent("disconnect", BluezErrorCode::deviceUnavailable)),
              Events{errorEvent("disconnect", BluezErrorCode::deviceUnavailable)});
    EXPECT_EQ(rig.fake.state().disconnectCalls, 0);
}

TEST(BluezCentral, CancelEndsTheLinkOnceAndTheCentralEndsWhatItStartedWhenItGoes) {
    BluezRig rig;
    rig.start();
    rig.addReader();
    const auto peripheral = rig.connectAndSubscribe(kReaderAddress, kReaderService, 2);
    const auto oldTransfer = rig.recorder.characteristic(kTransferUuid);

    rig.central->cancelPeripheralConnection(peripheral);
    rig.central->cancelPeripheralConnection(peripheral);
    EXPECT_EQ(rig.recorder.takeUntil("disconnect"), Events{"disconnect"});
    EXPECT_EQ(peripheral->state(), PeripheralState::disconnected);
    EXPECT_TRUE(peripheral->services().empty());
    EXPECT_FALSE(oldTransfer->isNotifying());
    EXPECT_EQ(rig.fake.state().disconnectCalls, 1);

    // A new connection has new objects; the old characteristic takes no writes.
    rig.central->connect(peripheral);
    rig.recorder.takeUntil("connect");
    peripheral->writeValue(kInventory, oldTransfer, WriteType::withResponse);
    peripheral->discoverServices(std::nullopt);
    rig.recorder.takeUntil("services 1");
    peripheral->discoverCharacteristics(std::nullopt, peripheral->services().front());
    rig.recorder.takeUntil("characteristics 2");
    const auto newTransfer = rig.recorder.characteristic(kTransferUuid);
    EXPECT_NE(newTransfer, oldTransfer);
    peripheral->writeValue(kInventory, newTransfer, WriteType::withResponse);
    rig.recorder.takeUntil("written " + short8(kTransferUuid));
    EXPECT_EQ(rig.fake.state().writes.size(), 1u); // the bus keeps a sender's calls in order

    // Going, the central stops its scan and disconnects.
    rig.central->scanForPeripherals();
    EXPECT_TRUE(rig.fake.waitFor([](const FakeState& s) { return s.discovering; }, kPatience));
    rig.central.reset();
    EXPECT_TRUE(rig.fake.waitFor([](const FakeState& s) { return !s.discovering && s.connected.empty(); },
                                 kPatience));
    EXPECT_TRUE(rig.recorder.events().empty());
}

} // namespace
} // namespace wynfc::test
