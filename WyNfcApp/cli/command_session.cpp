#include "cli/command_session.h"

#include "cli/library_output.h"
#include "cli/report.h"
#include "data/product_feature.h"
#include "platform/linux/application_bundle.h"
#include "platform/sim/folder_bundle.h"
#include "readers/ble_reader.h"
#include "readers/shared_api.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <time.h>
#include <unistd.h>

#ifndef WYNFC_VERSION
#error "WYNFC_VERSION must give the application's version"
#endif

namespace wynfc::cli {
std::string resourcesDir() {
    return ApplicationBundle::chooseFolder(ApplicationBundle::placesOfThisBuild("WYNFC_RESOURCES")).string();
}

std::string readFile(const std::string& path, const char* what) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw UsageError(std::string("cannot read the ") + what + " " + path);
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

double timeScale() {
    const char* scale = std::getenv("WYNFC_TIME_SCALE");
    if (scale == nullptr) {
        return 1.0;
    }
    const double factor = std::strtod(scale, nullptr);
    if (!(factor > 0.0 && factor <= 1.0)) {
        throw UsageError("WYNFC_TIME_SCALE must be a number above 0 and at most 1");
    }
    return factor;
}

Timing timing() {
    Timing product;
    // The delayed endings keep the application's popups on screen for a moment; the command
    // line shows none, so it goes on as soon as a job has ended. WYNFC_KEEP_DELAYED_ENDINGS=1
    // keeps them, to compare the two.
    const char* keep = std::getenv("WYNFC_KEEP_DELAYED_ENDINGS");
    if (keep == nullptr || std::string(keep) != "1") {
        product.delayedEnding = Millis{0};
    }
    const double factor = timeScale();
    if (factor == 1.0) {
        return product;
    }
    const auto scaled = [&](Millis duration) {
        if (duration.count() == 0) {
            return duration;
        }
        return Millis(
            std::max<long long>(1, static_cast<long long>(static_cast<double>(duration.count()) * factor)));
    };
    product.countdownTick = scaled(product.countdownTick);
    product.scanLoopPeriod = scaled(product.scanLoopPeriod);
    product.delayedEnding = scaled(product.delayedEnding);
    // BlueZ's own limits stay: they are reached only when something is wrong.
    product.bluetoothScanLimit = scaled(product.bluetoothScanLimit);
    product.tagPresentLimit = scaled(product.tagPresentLimit);
    return product;
}

namespace {

// The shipped resources, with the product table of --products when given.
class CliBundle final : public Bundle {
public:
    explicit CliBundle(std::optional<std::string> products)
        : mFolder(resourcesDir(), WYNFC_VERSION), mProducts(std::move(products)) {}

    std::optional<std::filesystem::path> pathForResource(const std::string& name,
                                                         const std::string& extension) const override {
        if (mProducts && name == "product_features" && extension == "json") {
            return std::filesystem::path(*mProducts);
        }
        return mFolder.pathForResource(name, extension);
    }
    std::optional<std::string> shortVersion() const override { return mFolder.shortVersion(); }

private:
    FolderBundle mFolder;
    std::optional<std::string> mProducts;
};

} // namespace

std::shared_ptr<const Bundle> bundleFor(const Options& options) {
    if (options.productsFile) {
        // A table that cannot be used is bad input, not an unsupported product.
        std::string error;
        if (!decodeProductFeature(readFile(*options.productsFile, "product table"), &error)) {
            throw UsageError("the product table " + *options.productsFile + " is not valid: " + error);
        }
    }
    return std::make_shared<CliBundle>(options.productsFile);
}

MapFile loadMap(const Options& options) {
    const std::string path = options.mapFile.value_or(resourcesDir() + "/address_map.json");
    const std::string text = readFile(path, "address map");
    std::string diagnostics;
    const bool loaded =
        withLibraryOutputCaptured(diagnostics, [&] { return sharedApi().loadAddressMapFile(text); });
    if (!loaded) {
        std::cerr << diagnostics;
        throw UsageError("the address map " + path + " is not valid");
    }
    return MapFile(text);
}

std::shared_ptr<VirtualTag> loadTag(const Options& options) {
    const std::string path = options.tagFile.value_or(resourcesDir() + "/samples/full_feature.json");
    try {
        return VirtualTag::load(path);
    } catch (const std::exception& error) {
        throw UsageError(std::string("cannot use the tag image: ") + error.what());
    }
}

namespace {

// Shows the job's progress on standard error, when that is a terminal.
void showProgress(PageHost& host) {
    if (isatty(STDERR_FILENO) == 0) {
        return;
    }
    host.setStatusObserver([](const WorkPageState& state) {
        std::cerr << progressLine(state.mStatusTips, state.mProgressValue) << std::flush;
    });
}

} // namespace

void endProgress() {
    if (isatty(STDERR_FILENO) != 0) {
        std::cerr << "\r\x1b[K" << std::flush;
    }
}

namespace {

std::chrono::nanoseconds processCpuTime() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

} // namespace

Session openSession(const Options& options, std::ostream& out, std::shared_ptr<SimulatedTagQueue> queue) {
    Session session{queue ? nullptr : loadTag(options), queue, nullptr, {}};
    session.host = std::make_unique<PageHost>(options.reader, bundleFor(options), session.tag, timing(),
                                              options.device, options.pcscReader);
    LinkModel linkModel;
    linkModel.kind = options.linkModel;
    // The Bluetooth link's connection events set most of its time: tests shorten them too.
    linkModel.ble.connectionInterval =
        std::chrono::duration_cast<Micros>(linkModel.ble.connectionInterval * timeScale());
    session.host->setLinkModel(linkModel);
    if (options.json) {
        session.host->setEventSink([&out](const PageEvent& event) {
            out << eventJson(event) << '\n' << std::flush;
        });
    }
    if (queue) {
        session.host->useTagQueue(queue);
    }
    showProgress(*session.host);
    session.host->open();
    if (options.coalesce) {
        if (const auto reader = session.host->bleReader()) {
            reader->setCoalescing(true);
        }
    }
    return session;
}

void printOutcome(std::ostream& out, const Options& options, const JobOutcome& outcome) {
    if (options.json) {
        out << outcomeJson(outcome) << '\n';
        return;
    }
    out << "Status: " << outcome.status << '\n';
    if (!outcome.detail.empty() && outcome.detail != outcome.status) {
        out << "Detail: " << outcome.detail << '\n';
    }
}

JobOutcome runJob(Session& session, const Options& options, const std::string& name,
                  const std::function<JobOutcome()>& job) {
    session.host->linkAccount().reset();
    const auto cpuBefore = processCpuTime();
    const auto start = std::chrono::steady_clock::now();
    JobOutcome outcome = job();
    if (options.linkModel != LinkModelKind::None) {
        session.linkReports.push_back({name, session.host->linkAccount().totals(),
                                       std::chrono::steady_clock::now() - start,
                                       processCpuTime() - cpuBefore});
    }
    return outcome;
}

void printLinkReports(std::ostream& out, const Options& options, Session& session) {
    using MillisFloat = std::chrono::duration<double, std::milli>;
    for (const LinkReport& report : session.linkReports) {
        const double modelled = MillisFloat(report.link.linkTime).count();
        const double taken = MillisFloat(report.taken).count();
        const double cpu = MillisFloat(report.cpu).count();
        if (options.json) {
            nlohmann::ordered_json line;
            line["link"] = {{"model", linkModelName(options.linkModel)},
                            {"job", report.job},
                            {"roundTrips", report.link.exchanges},
                            {"modelledMs", modelled},
                            {"takenMs", taken},
                            {"cpuMs", cpu}};
            out << line.dump() << '\n';
            continue;
        }
        char text[200];
        std::snprintf(text, sizeof text,
                      "Link (%s): %s: %zu round trips, %.1f ms modelled, %.1f ms taken, %.1f ms CPU\n",
                      std::string(linkModelName(options.linkModel)).c_str(), report.job.c_str(),
                      report.link.exchanges, modelled, taken, cpu);
        out << text;
    }
    session.linkReports.clear();
}

void printEvents(std::ostream& out, const std::vector<PageEvent>& events, size_t first) {
    for (size_t i = first; i < events.size(); ++i) {
        printEvent(out, events[i]);
    }
}

} // namespace wynfc::cli
