#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace wynfc::test {

// A dbus-daemon of the test's own, listening only on a unix socket in a fresh folder. Started
// by the constructor, which returns once the bus takes connections; stopped by its process id
// in the destructor, and by the kernel should the test process die first.
class PrivateBus {
public:
    struct Options {
        // The bus policy refuses every call to org.bluez, as the system bus does for a user who
        // may not use Bluetooth.
        bool refuseBluez = false;
    };

    PrivateBus() : PrivateBus(Options{}) {}
    explicit PrivateBus(Options options);
    ~PrivateBus();

    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }
    pid_t pid() const { return pid_; }

private:
    std::filesystem::path folder_;
    std::string address_;
    pid_t pid_ = -1;
};

} // namespace wynfc::test
