#include "cli/driver_job.h"

#include <stdexcept>

namespace wynfc::cli {

DriverJob::DriverJob(Session& session, const Options& options, const MapFile& map)
    : mSession(session), mOptions(options), mMap(map) {}

std::vector<PageEvent> DriverJob::eventsSince(size_t first) const {
    const auto events = mSession.host->events();
    return {events.begin() + static_cast<std::ptrdiff_t>(std::min(first, events.size())), events.end()};
}

const JobOutcome& DriverJob::read() {
    const size_t first = mSession.host->events().size();
    mRead = runJob(mSession, mOptions, "read", [&] { return mSession.host->read(); });
    mReadValues = ReadValues::fromEvents(eventsSince(first));
    mUid = mSession.host->lastTagUid();
    return *mRead;
}

bool DriverJob::notSupported() const {
    return mRead && mRead->status == "Not Support this product";
}

std::vector<std::string> DriverJob::areasNotRead(const WriteList& list) const {
    std::vector<std::string> missing;
    for (const WriteValuesType& group : list) {
        if (mReadValues.areaJson.count(group.name) == 0) {
            missing.push_back(group.name);
        }
    }
    return missing;
}

const JobOutcome& DriverJob::write(const WriteList& list) {
    if (!mRead || !mRead->completed) {
        throw std::logic_error("a driver is written only after a read that completed");
    }
    mList = list;
    const std::string data = writeData(mReadValues, mList);
    mWrite = runJob(mSession, mOptions, "write", [&] { return mSession.host->write(data); });
    return *mWrite;
}

const std::vector<std::string>& DriverJob::verify() {
    const size_t first = mSession.host->events().size();
    const JobOutcome reread =
        runJob(mSession, mOptions, "verify read", [&] { return mSession.host->read(); });
    mVerifyRan = true;
    mVerifyUid = mSession.host->lastTagUid();
    mMismatches = reread.completed
                      ? cli::verify(mList, mMap, ReadValues::fromEvents(eventsSince(first)))
                      : std::vector<std::string>{"the driver could not be read back: " + reread.status};
    return mMismatches;
}

size_t DriverJob::valueCount() const {
    size_t values = 0;
    for (const WriteValuesType& group : mList) {
        values += group.data.size();
    }
    return values;
}

std::string joinNames(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    }
    return text;
}

} // namespace wynfc::cli
