#pragma once

#include "platform/ble_peripheral.h"
#include "platform/bytes.h"
#include "platform/central_manager.h"
#include "platform/main_queue.h"
#include "platform/published.h"
#include "readers/bluetooth_delegates.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace wynfc {

// The Bluetooth reader's service and its two characteristics (compared without regard to case).
inline constexpr const char* kReaderServiceUuid = "2d8f4660-8acb-11ea-ab12-0800200c9a66";
inline constexpr const char* kTransferCharacteristicUuid = "2d8f4661-8acb-11ea-ab12-0800200c9a66";
inline constexpr const char* kReadCharacteristicUuid = "2d8f4662-8acb-11ea-ab12-0800200c9a66";

// The application's Bluetooth LE central: follows the machine's Bluetooth state, scans for
// NFC readers, connects to the one picked, switches their notifications on, writes request
// frames and hands every notification to its data receiver.
//
// Threads: the central's and the peripherals' callbacks arrive on the main queue, and the
// receivers are called from them, on the main queue. The published values change on the main
// queue only. connect, disconnect and rescan belong to the main queue; called from another
// thread they run there and the caller waits (never from a thread the main queue waits for).
// writeData may be called from any thread.
//
// Lifetime: the central is created by the constructor and destroyed first by the destructor;
// once it is gone no callback runs, so destroy the manager on the main queue or from a thread
// the main queue does not wait for. The data receiver is not owned and must outlive the
// manager or be cleared first (a BleReader owns its manager). The status receiver is held
// weakly.
class BluetoothManager final : public CentralManagerDelegate, public PeripheralDelegate {
public:
    static constexpr const char* TAG = "------ BluetoothManager ------";

    BluetoothManager(const CentralManagerFactory& centralFactory, MainQueue& mainQueue);
    ~BluetoothManager() override;

    BluetoothManager(const BluetoothManager&) = delete;
    BluetoothManager& operator=(const BluetoothManager&) = delete;

    // Published for the pages. Set by this manager only.
    // True once Bluetooth was found powered on; never set back.
    Published<bool> isBluetoothEnabled{false};
    // False for good once the user refused this program Bluetooth.
    Published<bool> isAllowUseBLE{true};
    // Readers heard by the current scan, each once, in the order found.
    Published<std::vector<std::shared_ptr<Peripheral>>> discoveredPeripherals;
    // Announced on every assignment, not only on a change: each connection, also one made
    // while a reader was connected already, shows "Connected!" on the pages.
    Published<bool> isConnected{false};

    // The data receiver (`delegate`); nullptr clears it.
    void setDelegate(BleDataCallbackDegelate* receiver);
    // The status receiver (`mBLEStatusDelegate`); an empty pointer clears it.
    void setBLEStatusDelegate(std::weak_ptr<BleStatusDelegateProtocol> receiver);

    // Writes the bytes, with response, to the connected reader's transfer characteristic.
    // Does nothing for empty bytes, or while no reader is connected or its transfer
    // characteristic is not known yet: the caller's wait then times out. True when the bytes
    // were handed to the platform.
    bool writeData(const Bytes& bytes);

    // Connects to a peripheral from discoveredPeripherals.
    void connect(const std::shared_ptr<Peripheral>& peripheral);
    // Stops scanning and drops the connection; DISCONNECTED follows from the platform.
    void disconnect();
    // Empties discoveredPeripherals and scans again if Bluetooth is on.
    void rescan();

    // The connected reader (`connectBLE`), if any.
    std::shared_ptr<Peripheral> connectedPeripheral() const;
    // True once the connected reader's transfer characteristic is known.
    bool hasTransferCharacteristic() const;

    // CentralManagerDelegate
    void centralManagerDidUpdateState(CentralManager& central) override;
    void didDiscover(CentralManager& central, const std::shared_ptr<Peripheral>& peripheral,
                     const AdvertisementData& advertisementData, int rssi) override;
    void didConnect(CentralManager& central, const std::shared_ptr<Peripheral>& peripheral) override;
    void didDisconnectPeripheral(CentralManager& central, const std::shared_ptr<Peripheral>& peripheral,
                                 const std::optional<BleError>& error) override;

    // PeripheralDelegate
    void didDiscoverServices(Peripheral& peripheral, const std::optional<BleError>& error) override;
    void didDiscoverCharacteristicsFor(Peripheral& peripheral, const std::shared_ptr<Service>& service,
                                       const std::optional<BleError>& error) override;
    void didUpdateNotificationStateFor(Peripheral& peripheral,
                                       const std::shared_ptr<Characteristic>& characteristic,
                                       const std::optional<BleError>& error) override;
    void didUpdateValueFor(Peripheral& peripheral, const std::shared_ptr<Characteristic>& characteristic,
                           const std::optional<BleError>& error) override;
    void didWriteValueFor(Peripheral& peripheral, const std::shared_ptr<Characteristic>& characteristic,
                          const std::optional<BleError>& error) override;

private:
    void report(BLEStatusEnum status);
    BleDataCallbackDegelate* dataReceiver() const;
    // Runs the task on the main queue, inline when already there.
    void onMainQueue(const MainQueue::Task& task);

    MainQueue& mMainQueue;

    // The receivers, set from any thread and read on the main queue.
    mutable std::mutex mReceiverLock;
    BleDataCallbackDegelate* mDelegate = nullptr;
    std::weak_ptr<BleStatusDelegateProtocol> mBLEStatusDelegate;

    // Changed on the main queue, read by writeData on the worker.
    mutable std::mutex mLinkLock;
    std::shared_ptr<Peripheral> connectBLE;
    std::shared_ptr<Characteristic> transferCharacteristic;

    // Last, so that it exists only while everything above does.
    std::unique_ptr<CentralManager> centralManager;
};

} // namespace wynfc
