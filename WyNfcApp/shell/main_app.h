#pragma once

#include "platform/bundle.h"

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace wynfc::shell {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The application's own options; GTK's are left for GTK.
struct AppOptions {
    // Both readers simulated (--simulate); else the Bluetooth mode uses the machine's
    // Bluetooth through BlueZ.
    bool simulate = false;
    // The driver images the simulated readers hold (the full-feature sample when empty): one
    // stays on the readers; several are laid on them one after another, the next each time
    // the page is done with a driver.
    std::vector<std::filesystem::path> simulateImages;
    // Where the simulated driver is saved when the application ends.
    std::optional<std::filesystem::path> saveFile;
    // The folder where each simulated driver's image is saved, under its file's name, when
    // the application ends.
    std::optional<std::filesystem::path> saveDir;
    bool help = false;
    bool version = false;
};

// Takes the application's options out of `arguments` (the program name first) and
// leaves the rest. Throws UsageError for a bad one.
AppOptions takeAppOptions(std::vector<std::string>& arguments);
std::string appUsageText();

// The window's title while the NFC mode uses the readers pcscd lists (`readers`; nullopt
// while pcscd does not answer): the first reader and how many more, or that none is there.
std::string pcscWindowTitle(const std::optional<std::vector<std::string>>& readers);

// The application: start-up, the window, the readers, the main loop.
class MainApp {
public:
    static constexpr const char* TAG = "------ MainApp ------";

    // Before the first view: greets the library and hands it the "address_map" resource's
    // text. Without that resource the library has no map; an unreadable one is logged as
    // "Read error" and start-up goes on. True when a map was loaded.
    static bool startUp(const Bundle& bundle);

    // Runs the application until its window closes; the exit status.
    static int run(int argc, char** argv);
};

} // namespace wynfc::shell
