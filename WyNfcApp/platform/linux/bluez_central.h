#pragma once

#include "platform/central_manager.h"
#include "platform/main_queue.h"
#include "platform/timing.h"

#include <memory>
#include <optional>
#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace wynfc {

struct BluezCentralCore;

// Codes of the errors the BlueZ central reports; the message carries BlueZ's own error.
enum class BluezErrorCode {
    failed = 1,           // BlueZ refused or could not carry out the request
    timedOut,             // no answer within the Timing's limit
    deviceUnavailable,    // BlueZ does not know the device now (not heard, or gone)
    connectionLost,       // the link ended without being asked to
    bluetoothUnavailable, // Bluetooth went off, BlueZ left the bus, or access was refused
    notAuthorized,        // the bus policy or polkit refused the request
};

// The machine's Bluetooth LE central, over BlueZ's D-Bus API (org.bluez on the system bus).
//
// State: no bus, no BlueZ on it, or no adapter: unsupported; the adapter's Powered (or its
// PowerState, when BlueZ has it): poweredOn or poweredOff; a request refused by the bus
// policy or polkit: unauthorized, until BlueZ comes back to the bus. Every change is reported
// as it happens: an adapter added or removed, Bluetooth switched, BlueZ leaving or joining.
// Leaving poweredOn stops the scan and ends every connection (with an error, after the state
// callback).
//
// Scanning asks BlueZ for LE discovery; every device object that appears under the adapter,
// or whose advertisement changes, while the scan is on and the device is not connected, is
// reported with its name, advertised service UUIDs and RSSI. A device is one Peripheral for
// the central's whole life (by its address), whatever BlueZ does with its object.
//
// A connection is reported once the device is both Connected and ServicesResolved; a
// connection the radio aborts is tried again (Timing::bluetoothConnectAttempts), and one
// that takes longer than Timing::bluetoothConnectTimeout fails. Services and
// characteristics come from BlueZ's object tree, notifications from the characteristic's
// Value changes (each one, in order), writes go out as WriteValue with type "request" (with
// response) or "command".
//
// Threads: the central must be given the main queue that runs on GLib's default main context
// (GLibMainQueue): every D-Bus answer and signal arrives there, and every callback is made
// from there. Operations may be called from any thread and never block. No call to BlueZ
// blocks the main loop: all are asynchronous, each with Timing::bluetoothCallTimeout.
class BluezCentral final : public CentralManager {
public:
    struct Options {
        // The bus BlueZ is on: a connection already open (a reference is taken), else a bus
        // address, else the system bus (DBUS_SYSTEM_BUS_ADDRESS, or the standard socket).
        GDBusConnection* connection = nullptr;
        std::optional<std::string> busAddress;
        // The adapter to use, by name ("hci0"); the first one BlueZ lists when absent.
        std::optional<std::string> adapter;
        Timing timing;
    };

    // Reports its state soon after creation, once it has heard from the bus.
    BluezCentral(CentralManagerDelegate& delegate, MainQueue& mainQueue, Options options);
    // Stops the scan and disconnects what this central connected; no callback of it or of its
    // peripherals runs once it returns.
    ~BluezCentral() override;

    BluezCentral(const BluezCentral&) = delete;
    BluezCentral& operator=(const BluezCentral&) = delete;

    CentralState state() const override;
    void scanForPeripherals() override;
    void stopScan() override;
    bool isScanning() const override;
    void connect(const std::shared_ptr<Peripheral>& peripheral) override;
    void cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) override;

    // Makes BlueZ centrals on the main queue, which must outlive them.
    static CentralManagerFactory factory(MainQueue& mainQueue, Options options);

private:
    std::shared_ptr<BluezCentralCore> core_;
};

} // namespace wynfc
