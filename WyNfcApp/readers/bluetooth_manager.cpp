#include "readers/bluetooth_manager.h"

#include "platform/console_log.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

namespace wynfc {
namespace {

void log(std::string_view text) {
    logLine(BluetoothManager::TAG, text);
}

std::string upperCased(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

bool sameUuid(std::string_view a, std::string_view b) {
    return upperCased(a) == upperCased(b);
}

// Observers hear of changes, not of every assignment (isConnected announces every one).
void change(Published<bool>& published, bool value) {
    if (published.get() != value) {
        published.set(value);
    }
}

} // namespace

BluetoothManager::BluetoothManager(const CentralManagerFactory& centralFactory, MainQueue& mainQueue)
    : mMainQueue(mainQueue) {
    // Nothing more happens until the central reports the Bluetooth state.
    centralManager = centralFactory(*this);
}

BluetoothManager::~BluetoothManager() {
    // First, while every field is still there: once the central is gone no callback runs.
    centralManager.reset();
}

void BluetoothManager::setDelegate(BleDataCallbackDegelate* receiver) {
    std::lock_guard lock(mReceiverLock);
    mDelegate = receiver;
}

void BluetoothManager::setBLEStatusDelegate(std::weak_ptr<BleStatusDelegateProtocol> receiver) {
    std::lock_guard lock(mReceiverLock);
    mBLEStatusDelegate = std::move(receiver);
}

BleDataCallbackDegelate* BluetoothManager::dataReceiver() const {
    std::lock_guard lock(mReceiverLock);
    return mDelegate;
}

void BluetoothManager::report(BLEStatusEnum status) {
    std::shared_ptr<BleStatusDelegateProtocol> receiver;
    {
        std::lock_guard lock(mReceiverLock);
        receiver = mBLEStatusDelegate.lock();
    }
    if (receiver) {
        receiver->onBleStatus(status);
        // Its other owners may have let go of the receiver (the page, which owns this manager)
        // meanwhile, on another thread: its end must not come here, inside a callback of this
        // manager, whose caller goes on with it. It ends in a task of its own.
        mMainQueue.async([last = std::move(receiver)] {});
    }
}

void BluetoothManager::onMainQueue(const MainQueue::Task& task) {
    if (mMainQueue.isMainThread()) {
        task();
    } else {
        mMainQueue.sync(task);
    }
}

std::shared_ptr<Peripheral> BluetoothManager::connectedPeripheral() const {
    std::lock_guard lock(mLinkLock);
    return connectBLE;
}

bool BluetoothManager::hasTransferCharacteristic() const {
    std::lock_guard lock(mLinkLock);
    return transferCharacteristic != nullptr;
}

// ---- operations ----

bool BluetoothManager::writeData(const Bytes& bytes) {
    if (bytes.empty()) {
        return false;
    }
    std::shared_ptr<Peripheral> peripheral;
    std::shared_ptr<Characteristic> characteristic;
    {
        std::lock_guard lock(mLinkLock);
        peripheral = connectBLE;
        characteristic = transferCharacteristic;
    }
    if (!peripheral || peripheral->state() != PeripheralState::connected || !characteristic) {
        return false;
    }
    // One value: a frame longer than a packet is left to the platform's long write.
    peripheral->writeValue(bytes, characteristic, WriteType::withResponse);
    return true;
}

void BluetoothManager::connect(const std::shared_ptr<Peripheral>& peripheral) {
    if (!peripheral) {
        return;
    }
    onMainQueue([&] {
        if (centralManager) {
            centralManager->connect(peripheral);
        }
    });
}

void BluetoothManager::disconnect() {
    onMainQueue([&] {
        if (!centralManager) {
            return;
        }
        centralManager->stopScan();
        std::shared_ptr<Peripheral> peripheral;
        {
            std::lock_guard lock(mLinkLock);
            peripheral = std::exchange(connectBLE, nullptr);
        }
        if (peripheral) {
            centralManager->cancelPeripheralConnection(peripheral);
            isConnected.set(false);
        }
    });
}

void BluetoothManager::rescan() {
    onMainQueue([&] {
        discoveredPeripherals.set({});
        if (centralManager && centralManager->state() == CentralState::poweredOn) {
            centralManager->stopScan();
            centralManager->scanForPeripherals();
        }
    });
}

// ---- central callbacks ----

void BluetoothManager::centralManagerDidUpdateState(CentralManager& central) {
    switch (central.state()) {
    case CentralState::unknown:
        log("CBManager state is unknown");
        break;
    case CentralState::resetting:
        log("CBManager is resetting");
        break;
    case CentralState::unsupported:
        log("Bluetooth is not supported on this device");
        break;
    case CentralState::unauthorized:
        log("CBManager is unauthorized");
        change(isAllowUseBLE, false);
        report(BLEStatusEnum::UNAUTHORIZED);
        break;
    case CentralState::poweredOff:
        log("CBManager is powered ooff");
        report(BLEStatusEnum::POWEROFF);
        disconnect();
        break;
    case CentralState::poweredOn:
        report(BLEStatusEnum::POWERON);
        change(isBluetoothEnabled, true);
        central.scanForPeripherals();
        break;
    default:
        log("Unexpected state occured");
        break;
    }
}

void BluetoothManager::didDiscover(CentralManager& /*central*/, const std::shared_ptr<Peripheral>& peripheral,
                                   const AdvertisementData& advertisementData, int /*rssi*/) {
    if (!peripheral || !advertisementData.serviceUuids) {
        return;
    }
    const auto& uuids = *advertisementData.serviceUuids;
    const bool advertisesReader = std::any_of(uuids.begin(), uuids.end(), [](const std::string& uuid) {
        return sameUuid(uuid, kReaderServiceUuid);
    });
    if (!advertisesReader) {
        return;
    }
    // Every advertisement is passed on; the published list holds each reader once.
    if (BleDataCallbackDegelate* receiver = dataReceiver()) {
        receiver->onPeripheralDiscovered(peripheral);
    }
    const auto listed = discoveredPeripherals.get();
    if (std::ranges::find(listed, peripheral) == listed.end()) {
        discoveredPeripherals.modify([&](std::vector<std::shared_ptr<Peripheral>>& list) {
            if (std::ranges::find(list, peripheral) == list.end()) {
                list.push_back(peripheral);
            }
        });
    }
}

void BluetoothManager::didConnect(CentralManager& central, const std::shared_ptr<Peripheral>& peripheral) {
    log("Connected!");
    report(BLEStatusEnum::CONNECTED);
    {
        std::lock_guard lock(mLinkLock);
        connectBLE = peripheral;
    }
    isConnected.set(true);
    central.stopScan();
    peripheral->setDelegate(this);
    peripheral->discoverServices(std::vector<std::string>{kReaderServiceUuid});
}

void BluetoothManager::didDisconnectPeripheral(CentralManager& /*central*/,
                                               const std::shared_ptr<Peripheral>& peripheral,
                                               const std::optional<BleError>& /*error*/) {
    log("Disconnected!");
    report(BLEStatusEnum::DISCONNECTED);
    bool wasConnected = false;
    {
        std::lock_guard lock(mLinkLock);
        // An older link ending must not forget a newer one. The transfer characteristic is
        // kept until the next connection finds its own.
        if (!connectBLE || connectBLE == peripheral) {
            connectBLE = nullptr;
            wasConnected = true;
        }
    }
    if (wasConnected) {
        isConnected.set(false);
    }
}

// ---- peripheral callbacks ----

void BluetoothManager::didDiscoverServices(Peripheral& peripheral, const std::optional<BleError>& /*error*/) {
    log("didDiscoverServices");
    for (const auto& service : peripheral.services()) {
        if (!sameUuid(service->uuid(), kReaderServiceUuid)) {
            continue;
        }
        log(service->uuid());
        peripheral.discoverCharacteristics(
            std::vector<std::string>{kTransferCharacteristicUuid, kReadCharacteristicUuid}, service);
    }
}

void BluetoothManager::didDiscoverCharacteristicsFor(Peripheral& peripheral,
                                                     const std::shared_ptr<Service>& service,
                                                     const std::optional<BleError>& /*error*/) {
    for (const auto& characteristic : service->characteristics()) {
        if (sameUuid(characteristic->uuid(), kTransferCharacteristicUuid)) {
            log("Transfer characteristic found");
            {
                std::lock_guard lock(mLinkLock);
                transferCharacteristic = characteristic;
            }
            peripheral.setNotifyValue(true, characteristic);
        } else if (sameUuid(characteristic->uuid(), kReadCharacteristicUuid)) {
            log("Transfer characteristicReadUUID found");
            peripheral.setNotifyValue(true, characteristic);
        }
    }
}

void BluetoothManager::didUpdateNotificationStateFor(Peripheral& /*peripheral*/,
                                                     const std::shared_ptr<Characteristic>& characteristic,
                                                     const std::optional<BleError>& /*error*/) {
    if (characteristic->isNotifying()) {
        // The placeholder is part of the line as it has always been logged.
        log("Notification began on %@ " + characteristic->uuid());
    }
}

void BluetoothManager::didUpdateValueFor(Peripheral& /*peripheral*/,
                                         const std::shared_ptr<Characteristic>& characteristic,
                                         const std::optional<BleError>& /*error*/) {
    const std::optional<Bytes> value = characteristic->value();
    if (!value) {
        return;
    }
    if (BleDataCallbackDegelate* receiver = dataReceiver()) {
        receiver->onDataReceived(*value);
    }
}

void BluetoothManager::didWriteValueFor(Peripheral& /*peripheral*/,
                                        const std::shared_ptr<Characteristic>& /*characteristic*/,
                                        const std::optional<BleError>& error) {
    log(error ? "Write failed!" : "Write successfully!");
}

} // namespace wynfc
