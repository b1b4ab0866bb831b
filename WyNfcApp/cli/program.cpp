// wynfc program: one profile into driver after driver, as on a production line.

#include "cli/command_session.h"
#include "cli/commands.h"
#include "cli/driver_job.h"
#include "cli/increment.h"
#include "cli/stop_signals.h"
#include "cli/write_request.h"
#include "platform/sim/tag_image.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <unistd.h>

namespace wynfc::cli {
namespace {

using nlohmann::ordered_json;

// Appends one line per driver to the report file, each written out to the disk before the
// next driver: a crash or a power cut loses no record.
class ReportFile {
public:
    explicit ReportFile(const std::string& path) : mPath(path) {
        mFd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (mFd < 0) {
            throw UsageError("cannot open the report file " + path + ": " + std::strerror(errno));
        }
    }
    ~ReportFile() { ::close(mFd); }
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    // Throws std::runtime_error when the line could not be written whole and synced.
    void append(const std::string& line) {
        const std::string text = line + "\n";
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t written = ::write(mFd, text.data() + done, text.size() - done);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                fail();
            }
            done += static_cast<size_t>(written);
        }
        if (::fsync(mFd) != 0) {
            fail();
        }
    }

private:
    [[noreturn]] void fail() const {
        throw std::runtime_error("cannot write the report file " + mPath + ": " + std::strerror(errno));
    }

    std::string mPath;
    int mFd = -1;
};

enum class Result { Programmed, Refused, Failed, Interrupted };

const char* resultName(Result result) {
    switch (result) {
    case Result::Programmed:
        return "programmed";
    case Result::Refused:
        return "refused";
    case Result::Failed:
        return "failed";
    case Result::Interrupted:
        return "interrupted";
    }
    return "failed";
}

// What happened to one driver.
struct DriverRecord {
    int number = 0;
    Bytes uid;
    std::int64_t deviceType = -1;
    std::int64_t deviceSubType = -1;
    Result result = Result::Failed;
    std::string message;
    // "verified", "mismatch" (the values read back differ, or the read back failed) or "not done"
    std::string verify = "not done";
    std::vector<std::string> mismatches;
    WriteList written; // what was sent to the driver; empty when nothing was
    std::optional<std::uint64_t> increment;
    double seconds = 0.0;
};

std::string isoTimeNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string uidText(const Bytes& uid) {
    return uid.empty() ? "unknown" : toHex(uid);
}

std::string secondsText(double seconds) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(2) << seconds << " s";
    return text.str();
}

ordered_json valuesJson(const WriteList& list) {
    ordered_json areas = ordered_json::array();
    for (const WriteValuesType& group : list) {
        ordered_json data = ordered_json::array();
        for (const PropJsonType& entry : group.data) {
            ordered_json value;
            value["propName"] = entry.propName;
            if (entry.arrayValue) {
                value["arrayValue"] = *entry.arrayValue;
            } else {
                value["value"] = entry.value;
            }
            if (entry.bitValue) {
                value["bitValue"] = *entry.bitValue;
            }
            data.push_back(value);
        }
        areas.push_back({{"name", group.name}, {"data", data}});
    }
    return areas;
}

ordered_json idJson(std::int64_t id) {
    return id < 0 ? ordered_json(nullptr) : ordered_json(id);
}

ordered_json reportJson(const DriverRecord& record, const std::optional<Increment>& increment) {
    ordered_json line;
    line["time"] = isoTimeNow();
    line["driver"] = record.number;
    line["uid"] = record.uid.empty() ? ordered_json(nullptr) : ordered_json(toHex(record.uid));
    line["deviceType"] = idJson(record.deviceType);
    line["deviceSubType"] = idJson(record.deviceSubType);
    line["values"] = valuesJson(record.written);
    line["result"] = resultName(record.result);
    line["verify"] = record.verify;
    line["mismatches"] = record.mismatches;
    line["message"] = record.message;
    if (increment && record.increment) {
        line["increment"] = {{"item", increment->name()}, {"value", *record.increment}};
    }
    line["seconds"] = record.seconds;
    return line;
}

// The simulated drivers of --tags (else the shipped sample), one after another.
std::shared_ptr<SimulatedTagQueue> loadQueue(const Options& options) {
    std::vector<std::filesystem::path> files(options.tagFiles.begin(), options.tagFiles.end());
    if (files.empty()) {
        files.emplace_back(resourcesDir() + "/samples/full_feature.json");
    }
    try {
        return SimulatedTagQueue::load(files);
    } catch (const std::exception& error) {
        throw UsageError(std::string("--tags: ") + error.what());
    }
}

// Sleeps until the stop is asked for or the time has passed.
class StopWait {
public:
    void wake() {
        std::lock_guard lock(mMutex);
        mWoken = true;
        mChanged.notify_all();
    }
    // False when woken.
    bool sleep(Millis duration) {
        std::unique_lock lock(mMutex);
        return !mChanged.wait_for(lock, duration, [&] { return mWoken; });
    }

private:
    std::mutex mMutex;
    std::condition_variable mChanged;
    bool mWoken = false;
};

class ProductionRun {
public:
    ProductionRun(const Options& options, std::ostream& out) : mOptions(options), mOut(out) {}
    // The signal thread goes first: its action reaches into the session.
    ~ProductionRun() { mStop.reset(); }
    ProductionRun(const ProductionRun&) = delete;
    ProductionRun& operator=(const ProductionRun&) = delete;

    int run();

private:
    void prepare();
    // The next driver on the reader, read; nothing when the run is to stop first.
    std::unique_ptr<DriverJob> nextDriver();
    // Programs the driver just read, as far as it goes.
    DriverRecord program(DriverJob& driver, int number);
    // A driver already handled lies on the reader: the worker is asked once to take it away,
    // and the run waits until it has gone.
    void waitUntilTakenAway(const std::string& uid);
    void driverDone();
    // The driver of this number is being read (or, after a wait for a driver to be taken
    // away, has been read and is not one met before).
    void announce(int number);
    void print(const DriverRecord& record);
    void printSummary();
    // Why the run stops now, if it does.
    std::optional<std::string> stopReason();

    const Options& mOptions;
    std::ostream& mOut;
    std::optional<MapFile> mMap;
    WriteList mProfile;
    std::optional<Increment> mIncrement;
    std::unique_ptr<ReportFile> mReport;
    std::shared_ptr<SimulatedTagQueue> mQueue;
    Timing mTiming;
    StopWait mStopWait;
    std::unique_ptr<StopSignals> mStop;
    Session mSession;

    // UIDs as hexadecimal text (comparing byte vectors trips GCC 12's overread warning at -O3).
    // Programmed or refused: not worked on again in this run, whether or not it left between.
    std::set<std::string> mHandled;
    // The driver worked on last, until a read finds the reader empty or another driver: one
    // that failed is tried again only once it has been taken away and laid on again.
    std::optional<std::string> mLastOnReader;
    std::optional<std::string> mAskedToTakeAway;
    std::optional<std::pair<std::int64_t, std::int64_t>> mProduct; // of the first driver programmed
    std::vector<DriverRecord> mRecords;
    int mAnnounced = 0; // the number of the driver announced last
    std::string mEnding;
    bool mStoppedEarly = false; // the increment's range ran out, or the report could not be written
};

void ProductionRun::prepare() {
    // Everything that can be refused is refused before a driver is touched.
    mMap = loadMap(mOptions);
    mProfile = writeListFromJson(readFile(*mOptions.valuesFile, "values file"), *mMap);
    if (mOptions.increment) {
        std::string catalogue;
        try {
            catalogue = readFile(resourcesDir() + "/field_catalogue.json", "catalogue");
        } catch (const UsageError&) {
            // Without the page's catalogue the item's type gives its range.
        }
        mIncrement.emplace(*mOptions.increment, *mMap, mProfile, catalogue);
    }
    if (!isReal(mOptions.reader)) {
        mQueue = loadQueue(mOptions);
    }
    if (mOptions.reportFile) {
        mReport = std::make_unique<ReportFile>(*mOptions.reportFile);
    }
    mTiming = timing();
}

std::optional<std::string> ProductionRun::stopReason() {
    if (mStop->requested()) {
        return std::string("stopped by ") + (mStop->signal() == SIGTERM ? "SIGTERM" : "Ctrl-C (SIGINT)");
    }
    if (mOptions.count && static_cast<int>(mRecords.size()) >= *mOptions.count) {
        return std::to_string(*mOptions.count) + " driver(s) done, as --count asked";
    }
    if (mQueue && mQueue->exhausted()) {
        return "no more simulated drivers (--tags)";
    }
    if (mIncrement && !mIncrement->next()) {
        mStoppedEarly = true;
        return "no value is left for " + mIncrement->name() + ": the last one, " +
               std::to_string(mIncrement->maximum()) + ", has been programmed";
    }
    return std::nullopt;
}

void ProductionRun::announce(int number) {
    if (number == mAnnounced) {
        return; // a real NFC reader's wait for a tag started again
    }
    mAnnounced = number;
    if (mOptions.json) {
        mOut << ordered_json{{"driver", number}, {"event", "started"}}.dump() << '\n' << std::flush;
    } else {
        mOut << "Driver " << number << ": started\n" << std::flush;
    }
}

std::unique_ptr<DriverJob> ProductionRun::nextDriver() {
    while (!stopReason()) {
        if (mOptions.reader == ReaderChoice::Ble && mSession.host->inventoryUid().empty()) {
            mLastOnReader.reset();
            mAskedToTakeAway.reset();
            // The Bluetooth reader tells nothing by itself: ask it again after a while.
            mStopWait.sleep(mTiming.scanLoopPeriod);
            continue;
        }
        auto driver = std::make_unique<DriverJob>(mSession, mOptions, *mMap);
        // The reads that look whether a driver already handled has gone are not announced.
        const bool announced = !mAskedToTakeAway;
        if (announced) {
            announce(static_cast<int>(mRecords.size()) + 1);
        }
        try {
            driver->read();
        } catch (const NoTagPresented&) {
            // No driver yet: the worker may take a while. The page's next read waits again.
            mSession.host->settle();
            mLastOnReader.reset();
            mAskedToTakeAway.reset();
            continue;
        } catch (const std::runtime_error&) {
            if (mStop->requested()) {
                mSession.host->settle();
                return nullptr; // the wait for a tag was ended by the stop
            }
            throw;
        }
        const std::string uid = toHex(driver->uid());
        if (!uid.empty() && (mHandled.count(uid) != 0 || mLastOnReader == uid)) {
            waitUntilTakenAway(uid);
            continue;
        }
        mAskedToTakeAway.reset();
        mLastOnReader.reset();
        if (!announced) {
            announce(static_cast<int>(mRecords.size()) + 1);
        }
        return driver;
    }
    return nullptr;
}

void ProductionRun::waitUntilTakenAway(const std::string& uid) {
    if (mAskedToTakeAway != uid) {
        mAskedToTakeAway = uid;
        if (mOptions.json) {
            const char* event = mHandled.count(uid) != 0 ? "already handled" : "still on the reader";
            mOut << ordered_json{{"uid", uid}, {"event", event}}.dump() << '\n' << std::flush;
        } else {
            if (mHandled.count(uid) != 0) {
                mOut << "Driver " << uid << " was already handled in this run: take it off the reader\n";
            } else {
                mOut << "Driver " << uid
                     << " is still on the reader: take it off, and lay it on again to try again\n";
            }
            mOut << std::flush;
        }
    }
    if (mQueue) {
        driverDone(); // the simulated worker takes it away, or leaves it there a while longer
        return;
    }
    if (mOptions.reader == ReaderChoice::Ble) {
        while (!mStop->requested() && toHex(mSession.host->inventoryUid()) == uid) {
            mStopWait.sleep(mTiming.scanLoopPeriod);
        }
        return;
    }
    // The NFC reader's session reports no tag leaving: the next read, after a while, tells.
    mStopWait.sleep(mTiming.scanLoopPeriod);
}

void ProductionRun::driverDone() {
    if (mQueue) {
        mQueue->driverDone();
    }
}

DriverRecord ProductionRun::program(DriverJob& driver, int number) {
    DriverRecord record;
    record.number = number;
    record.uid = driver.uid();
    record.deviceType = driver.readValues().deviceType;
    record.deviceSubType = driver.readValues().deviceSubType;
    const JobOutcome& read = *driver.readOutcome();
    if (!read.completed) {
        record.result = driver.notSupported() ? Result::Refused : Result::Failed;
        record.message = read.detail.empty() ? read.status : read.detail;
        return record;
    }
    if (mStop->requested()) {
        record.result = Result::Interrupted;
        record.message = "stopped after the read: nothing was written";
        return record;
    }
    const std::pair product{record.deviceType, record.deviceSubType};
    if (mProduct && product != *mProduct) {
        record.result = Result::Refused;
        record.message = "device type " + std::to_string(product.first) + " sub type " +
                         std::to_string(product.second) + ", not the first driver's (type " +
                         std::to_string(mProduct->first) + " sub type " + std::to_string(mProduct->second) +
                         "): not written";
        return record;
    }
    WriteList list = mIncrement ? mIncrement->apply(mProfile) : mProfile;
    if (const std::vector<std::string> missing = driver.areasNotRead(list); !missing.empty()) {
        record.result = Result::Refused;
        record.message =
            "the driver does not announce " + joinNames(missing) + " of the profile: not written";
        return record;
    }
    if (mIncrement) {
        record.increment = mIncrement->next();
    }
    record.written = list;
    const JobOutcome& written = driver.write(list);
    if (!written.completed) {
        record.result = Result::Failed;
        record.message = written.detail.empty() ? written.status : written.detail;
        return record;
    }
    if (mStop->requested()) {
        record.result = Result::Interrupted;
        record.message = "stopped after the write: written, not read back";
        return record;
    }
    record.mismatches = driver.verify();
    if (!driver.verifyUid().empty() && !record.uid.empty() &&
        toHex(driver.verifyUid()) != toHex(record.uid)) {
        // Another driver was laid on the reader meanwhile: which one was written is not known.
        record.result = Result::Failed;
        record.verify = "mismatch";
        record.message = "the driver " + toHex(driver.verifyUid()) +
                         " answered the read back: this driver's write is not confirmed";
        return record;
    }
    if (!record.mismatches.empty()) {
        record.result = Result::Failed;
        record.verify = "mismatch";
        record.message = record.mismatches.front();
        return record;
    }
    record.result = Result::Programmed;
    record.verify = "verified";
    if (!mProduct) {
        mProduct = product;
    }
    if (mIncrement) {
        mIncrement->consume();
    }
    return record;
}

void ProductionRun::print(const DriverRecord& record) {
    if (mOptions.json) {
        ordered_json line;
        line["driver"] = record.number;
        line["uid"] = record.uid.empty() ? ordered_json(nullptr) : ordered_json(toHex(record.uid));
        line["result"] = resultName(record.result);
        line["seconds"] = record.seconds;
        line["verify"] = record.verify;
        line["message"] = record.message;
        if (record.increment) {
            line["increment"] = *record.increment;
        }
        mOut << line.dump() << '\n' << std::flush;
        return;
    }
    mOut << "Driver " << record.number << ": " << uidText(record.uid) << " " << resultName(record.result)
         << " " << secondsText(record.seconds);
    if (record.increment && record.result == Result::Programmed) {
        mOut << " (" << mIncrement->name() << " = " << *record.increment << ")";
    }
    if (record.result != Result::Programmed && !record.message.empty()) {
        mOut << ": " << record.message;
    }
    mOut << '\n' << std::flush;
}

void ProductionRun::printSummary() {
    int counts[4] = {0, 0, 0, 0};
    double total = 0.0;
    double fastest = 0.0;
    double slowest = 0.0;
    for (const DriverRecord& record : mRecords) {
        ++counts[static_cast<int>(record.result)];
        total += record.seconds;
        fastest = &record == &mRecords.front() ? record.seconds : std::min(fastest, record.seconds);
        slowest = std::max(slowest, record.seconds);
    }
    const double average = mRecords.empty() ? 0.0 : total / static_cast<double>(mRecords.size());
    if (mOptions.json) {
        ordered_json summary;
        summary["drivers"] = mRecords.size();
        summary["programmed"] = counts[0];
        summary["refused"] = counts[1];
        summary["failed"] = counts[2];
        summary["interrupted"] = counts[3];
        summary["seconds"] = {
            {"total", total}, {"average", average}, {"fastest", fastest}, {"slowest", slowest}};
        summary["ending"] = mEnding;
        mOut << ordered_json{{"summary", summary}}.dump() << '\n' << std::flush;
        return;
    }
    mOut << "Summary: " << mRecords.size() << " driver(s): " << counts[0] << " programmed, " << counts[1]
         << " refused, " << counts[2] << " failed, " << counts[3] << " interrupted\n";
    if (!mRecords.empty()) {
        mOut << "Time per driver: " << secondsText(average) << " on average, " << secondsText(fastest)
             << " to " << secondsText(slowest) << "; " << secondsText(total) << " in all\n";
    }
    mOut << "Ended: " << mEnding << '\n' << std::flush;
}

int ProductionRun::run() {
    prepare();
    // Before the page's threads: they inherit the blocked signals.
    mStop = std::make_unique<StopSignals>();
    Options sessionOptions = mOptions;
    sessionOptions.json = false; // the page's events are not streamed: one line per driver
    mSession = openSession(sessionOptions, mOut, mQueue);
    mStop->onStop([this] {
        mStopWait.wake();
        mSession.host->interrupt();
    });

    while (true) {
        std::unique_ptr<DriverJob> driver;
        DriverRecord record;
        const auto start = std::chrono::steady_clock::now();
        try {
            driver = nextDriver();
            if (!driver) {
                break;
            }
            record = program(*driver, static_cast<int>(mRecords.size()) + 1);
        } catch (const std::runtime_error& error) {
            // The reader cannot go on (lost, not answering): the drivers so far keep their records.
            mEnding = error.what();
            mStoppedEarly = true;
            break;
        }
        record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        endProgress();
        printLinkReports(mOut, mOptions, mSession);
        print(record);
        if (!record.uid.empty()) {
            mLastOnReader = toHex(record.uid);
            if (record.result == Result::Programmed || record.result == Result::Refused) {
                mHandled.insert(*mLastOnReader);
            }
        }
        mRecords.push_back(record);
        if (mReport) {
            try {
                mReport->append(reportJson(record, mIncrement).dump());
            } catch (const std::runtime_error& error) {
                mEnding = error.what();
                mStoppedEarly = true;
                driverDone();
                break;
            }
        }
        driverDone();
    }
    if (mEnding.empty()) {
        mEnding = stopReason().value_or("stopped");
    }
    mSession.host->settle();
    if (mQueue && mOptions.saveDir) {
        try {
            mQueue->saveAll(*mOptions.saveDir);
        } catch (const std::exception& error) {
            mEnding += "; the simulated drivers' images were not saved: " + std::string(error.what());
            mStoppedEarly = true;
        }
    }
    printSummary();
    mStop.reset();
    const bool allProgrammed = std::all_of(mRecords.begin(), mRecords.end(), [](const DriverRecord& record) {
        return record.result == Result::Programmed;
    });
    return allProgrammed && !mStoppedEarly ? 0 : 1;
}

} // namespace

int runProgram(const Options& options, std::ostream& out) {
    ProductionRun run(options, out);
    return run.run();
}

} // namespace wynfc::cli
