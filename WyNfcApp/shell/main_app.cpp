#include "shell/main_app.h"

#include "platform/console_log.h"
#include "platform/linux/application_bundle.h"
#include "platform/linux/bluez_central.h"
#include "platform/linux/glib_main_queue.h"
#include "platform/linux/gtk/gtk_file_chooser.h"
#include "platform/linux/gtk/session_sheet_service.h"
#include "platform/linux/key_file_user_defaults.h"
#include "platform/linux/mailto_composer.h"
#ifdef WYNFC_HAVE_PCSC
#include "platform/linux/pcsc/pcsc_tag_reader.h"
#endif
#include "platform/sim/tag_image.h"
#include "readers/shared_api.h"
#include "shell/main_window.h"
#include "shell/shell_style.h"
#include "shell/simulated_driver.h"

#include <gtkmm.h>

#include <iostream>

namespace wynfc::shell {

AppOptions takeAppOptions(std::vector<std::string>& arguments) {
    AppOptions options;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (i == 0) {
            rest.push_back(argument);
        } else if (argument == "--simulate") {
            options.simulate = true;
            options.simulateImages.clear();
        } else if (argument.rfind("--simulate=", 0) == 0) {
            options.simulate = true;
            options.simulateImages.clear();
            const std::string list = argument.substr(11);
            std::size_t start = 0;
            for (;;) {
                const std::size_t comma = std::min(list.find(',', start), list.size());
                if (comma == start) {
                    throw UsageError(list.empty() ? "--simulate= needs a driver image file"
                                                  : "--simulate= has an empty file name in its list");
                }
                options.simulateImages.emplace_back(list.substr(start, comma - start));
                if (comma == list.size()) {
                    break;
                }
                start = comma + 1;
            }
        } else if (argument == "--save-dir" || argument.rfind("--save-dir=", 0) == 0) {
            std::string folder;
            if (argument == "--save-dir") {
                if (i + 1 >= arguments.size()) {
                    throw UsageError("--save-dir needs a folder");
                }
                folder = arguments[++i];
            } else {
                folder = argument.substr(11);
            }
            if (folder.empty()) {
                throw UsageError("--save-dir needs a folder");
            }
            options.saveDir = folder;
        } else if (argument == "--save" || argument.rfind("--save=", 0) == 0) {
            std::string file;
            if (argument == "--save") {
                if (i + 1 >= arguments.size()) {
                    throw UsageError("--save needs a file name");
                }
                file = arguments[++i];
            } else {
                file = argument.substr(7);
            }
            if (file.empty()) {
                throw UsageError("--save needs a file name");
            }
            options.saveFile = file;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else {
            rest.push_back(argument);
        }
    }
    if (options.saveFile && options.simulateImages.size() > 1) {
        throw UsageError("--save keeps one driver; with several images use --save-dir");
    }
    arguments = std::move(rest);
    return options;
}

std::string appUsageText() {
    return "Usage: WyNfcApp [--simulate[=IMAGE[,IMAGE...]]] [--save FILE] [--save-dir DIR]\n"
           "\n"
           "Reads and writes the settings of LED drivers with an NFC tag.\n"
           "\n"
           "  --simulate[=IMAGE]  put a simulated driver (a tag image, by default the\n"
           "                      full-feature sample) on simulated NFC and Bluetooth readers;\n"
           "                      without it the Bluetooth mode uses this machine's Bluetooth\n"
           "                      (BlueZ), and the NFC mode the NFC readers attached to it\n"
           "                      through pcscd: the home page offers NFC while pcscd lists\n"
           "                      a reader, as readers are plugged in and out. When pcscd is\n"
           "                      not running at start, the NFC mode uses the simulated\n"
           "                      driver instead, and the window's title says so.\n"
           "                      Several images (a comma list) are laid on the simulated\n"
           "                      readers one after another: the next each time the page is\n"
           "                      done with a driver, as in the page's production mode\n"
           "  --save FILE         write the simulated driver to FILE when the window closes\n"
           "  --save-dir DIR      write each simulated driver's image into DIR, under its\n"
           "                      file's name, when the window closes\n"
           "  --version           print the version\n"
           "  --help              print this text\n";
}

std::string pcscWindowTitle(const std::optional<std::vector<std::string>>& readers) {
    std::string nfc;
    if (!readers) {
        nfc = "pcscd is not running";
    } else if (readers->empty()) {
        nfc = "no reader attached";
    } else {
        nfc = readers->front();
        if (const std::size_t more = readers->size() - 1; more > 0) {
            nfc += " and " + std::to_string(more) + (more == 1 ? " other reader" : " other readers");
        }
    }
    return "WyNfc — Bluetooth readers nearby; NFC: " + nfc;
}

bool MainApp::startUp(const Bundle& bundle) {
    sharedApi().sayHello();
    const auto file = bundle.pathForResource("address_map", "json");
    if (!file) {
        return false;
    }
    gchar* contents = nullptr;
    gsize length = 0;
    GError* error = nullptr;
    if (!g_file_get_contents(file->c_str(), &contents, &length, &error)) {
        logLine(TAG, std::string("Read error ") + (error != nullptr ? error->message : "unknown error"));
        g_clear_error(&error);
        return false;
    }
    const std::string text(contents, length);
    g_free(contents);
    return sharedApi().loadAddressMapFile(text);
}

int MainApp::run(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    AppOptions options;
    try {
        options = takeAppOptions(arguments);
    } catch (const UsageError& error) {
        std::cerr << "WyNfcApp: " << error.what() << "\n\n" << appUsageText();
        return 2;
    }
    if (options.help) {
        std::cout << appUsageText();
        return 0;
    }
    auto bundle = std::make_shared<ApplicationBundle>();
    if (options.version) {
        std::cout << "WyNfcApp " << bundle->shortVersion().value_or("unknown") << '\n';
        return 0;
    }

    // The simulated driver, or drivers one after another: this build's readers.
    std::vector<std::filesystem::path> images = options.simulateImages;
    if (images.empty()) {
        images.push_back(bundle->folder() / "samples" / "full_feature.json");
    }
    const auto image = images.front();
    const Timing timing;
    std::unique_ptr<SimulatedDriver> simulated;
    try {
        if (images.size() == 1) {
            simulated = std::make_unique<SimulatedDriver>(VirtualTag::load(image), timing);
        } else {
            simulated = std::make_unique<SimulatedDriver>(SimulatedTagQueue::load(images), timing);
        }
    } catch (const std::exception& error) {
        std::cerr << "WyNfcApp: cannot use the driver image: " << error.what() << '\n';
        return 2;
    }
    SimulatedDriver& driver = *simulated;
    const std::shared_ptr<VirtualTag> tag = driver.tag();

    startUp(*bundle);

    auto mainQueue = std::make_shared<GLibMainQueue>();
    std::unique_ptr<MainWindow> window;
    ShellContext context;
    context.bundle = bundle;
    context.userDefaults = std::make_shared<KeyFileUserDefaults>();
    context.mailComposer = std::make_shared<MailtoComposer>();
    context.fileChooser =
        std::make_shared<GtkNativeFileChooser>([&window]() -> Gtk::Window* { return window.get(); });
    // NFC readers attached to this machine, through pcscd, unless all is simulated. The home
    // page shows the NFC card while the daemon lists a reader, and the title names it. When the
    // daemon does not answer at start, the NFC mode works on the simulated driver instead.
    std::shared_ptr<TagReaderService> tagReaders = driver.tagReader();
    const std::string simulatedName = images.size() == 1
                                          ? "simulated driver (" + image.filename().string() + ")"
                                          : std::to_string(images.size()) + " simulated drivers in turn (" +
                                                image.filename().string() + " first)";
    context.nextDriver = [&driver] { driver.nextDriver(); };
    std::function<std::string()> title = [simulatedName] { return "WyNfc — " + simulatedName; };
    if (!options.simulate) {
#ifdef WYNFC_HAVE_PCSC
        const std::string fallback = simulatedName + ", as pcscd is not running";
        auto pcsc = std::make_shared<PcscTagReaderService>(std::nullopt, timing);
        if (pcsc->serviceRunning()) {
            tagReaders = pcsc;
            context.nextDriver = {}; // the readers are real: a person takes the driver away
            title = [pcsc] {
                return pcscWindowTitle(pcsc->serviceRunning() ? std::optional(pcsc->readerNames())
                                                              : std::nullopt);
            };
        } else {
            title = [fallback] { return "WyNfc — Bluetooth readers nearby; NFC: " + fallback; };
        }
#else
        const std::string fallback = simulatedName + ", as this build has no PC/SC";
        title = [fallback] { return "WyNfc — Bluetooth readers nearby; NFC: " + fallback; };
#endif
    }
    auto sheets = std::make_shared<SessionSheetService>(tagReaders, mainQueue, timing.delayedEnding,
                                                        [&window]() -> Gtk::Window* { return window.get(); });
    // Bluetooth readers nearby, through BlueZ on the system bus, unless all is simulated.
    BluezCentral::Options bluetooth;
    bluetooth.timing = timing;
    context.platform = {sheets,
                        options.simulate ? driver.centralFactory(*mainQueue)
                                         : BluezCentral::factory(*mainQueue, bluetooth),
                        mainQueue, timing};

    auto app = Gtk::Application::create("org.wynfc.WyNfcApp", Gio::Application::Flags::NON_UNIQUE);
    app->signal_activate().connect([&] {
        if (!window) {
            installShellStyle();
            window = std::make_unique<MainWindow>(context, title);
            app->add_window(*window);
        }
        window->present();
    });
    std::vector<char*> gtkArguments;
    for (auto& argument : arguments) {
        gtkArguments.push_back(argument.data());
    }
    const int status = app->run(static_cast<int>(gtkArguments.size()), gtkArguments.data());

    // The window has closed and left its work page: let a job that is still ending finish
    // (its page events go nowhere now) before the driver is saved and the readers go.
    mainQueue->quit();
    window.reset();
    for (const auto& weakPage : context.openedPages) {
        if (auto page = weakPage.lock()) {
            page->waitForJobs();
        }
    }
    if (options.saveFile) {
        try {
            saveTagImage(tag->image(), *options.saveFile);
        } catch (const std::exception& error) {
            std::cerr << "WyNfcApp: the driver was not saved: " << error.what() << '\n';
            return 1;
        }
    }
    if (options.saveDir) {
        try {
            if (driver.queue()) {
                driver.queue()->saveAll(*options.saveDir);
            } else {
                std::filesystem::create_directories(*options.saveDir);
                saveTagImage(tag->image(), *options.saveDir / image.filename());
            }
        } catch (const std::exception& error) {
            std::cerr << "WyNfcApp: the drivers were not saved: " << error.what() << '\n';
            return 1;
        }
    }
    return status;
}

} // namespace wynfc::shell
