#pragma once

#include "platform/central_manager.h"
#include "platform/main_queue.h"
#include "platform/sim/simulated_radio.h"

#include <memory>

namespace wynfc {

struct CentralCore;

// Codes of the errors the simulated central reports.
enum class SimulatedBleErrorCode {
    deviceUnavailable = 1, // connect: the device is out of range or connected elsewhere
    connectionLost,        // the device went out of range
    peerDisconnected,      // the device ended the connection
    bluetoothUnavailable,  // Bluetooth went off, or the permission was refused
    notSupported,          // the characteristic does not allow the operation
};

// A Bluetooth central over a simulated radio. Faithful to the platform where the
// application relies on it: callbacks on the main queue in the order of the events, one
// Peripheral object per device, new service and characteristic objects per connection,
// notifications only once switched on, nothing done without a connection or with
// Bluetooth off. Unlike a real central, a connection to a device that is not available
// fails at once (didFailToConnect) instead of waiting for it.
class SimulatedCentral final : public CentralManager {
public:
    // Reports its state soon after creation, like a platform central.
    SimulatedCentral(const SimulatedRadio& radio, CentralManagerDelegate& delegate, MainQueue& mainQueue);
    // Ends its connections; no callback of it or its peripherals runs afterwards.
    ~SimulatedCentral() override;

    SimulatedCentral(const SimulatedCentral&) = delete;
    SimulatedCentral& operator=(const SimulatedCentral&) = delete;

    CentralState state() const override;
    void scanForPeripherals() override;
    void stopScan() override;
    bool isScanning() const override;
    void connect(const std::shared_ptr<Peripheral>& peripheral) override;
    void cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) override;

private:
    friend class SimulatedRadio;
    SimulatedCentral(std::shared_ptr<RadioCore> radio, CentralManagerDelegate& delegate,
                     MainQueue& mainQueue);

    std::shared_ptr<CentralCore> core_;
};

} // namespace wynfc
