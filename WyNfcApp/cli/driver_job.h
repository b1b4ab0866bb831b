#pragma once

#include "cli/command_session.h"
#include "cli/write_request.h"

#include <optional>
#include <string>
#include <vector>

namespace wynfc::cli {

// One driver through the jobs of a write, as `wynfc write` runs them and `wynfc program` runs
// them for each driver: the read job (with the page's product check), the write job with the
// read's identification (the page writes the check pattern with it), and the verify read.
// Each step is the page's own job; nothing is skipped or added.
class DriverJob {
public:
    DriverJob(Session& session, const Options& options, const MapFile& map);

    // The read job; the page's events of this driver start here.
    const JobOutcome& read();
    // The driver as the read showed it (identification and areas).
    const ReadValues& readValues() const { return mReadValues; }
    // The UID of the driver read (in the order the tag reports it); empty when unknown.
    const Bytes& uid() const { return mUid; }
    // The page refused the driver's product.
    bool notSupported() const;

    // The areas of the list that the read did not show. The driver does not announce them, so
    // the page would never write them: their bytes may hold something else on this driver.
    std::vector<std::string> areasNotRead(const WriteList& list) const;

    // The write job with the values; only after a read that completed.
    const JobOutcome& write(const WriteList& list);
    // The verify read of what write() sent: the values that did not read back as written (a
    // read that failed is one entry).
    const std::vector<std::string>& verify();

    const std::optional<JobOutcome>& readOutcome() const { return mRead; }
    const std::optional<JobOutcome>& writeOutcome() const { return mWrite; }
    bool verifyRan() const { return mVerifyRan; }
    // The UID the verify read found; empty when unknown.
    const Bytes& verifyUid() const { return mVerifyUid; }
    const std::vector<std::string>& mismatches() const { return mMismatches; }
    const WriteList& written() const { return mList; }
    // Values in the list.
    size_t valueCount() const;

private:
    std::vector<PageEvent> eventsSince(size_t first) const;

    Session& mSession;
    const Options& mOptions;
    const MapFile& mMap;
    std::optional<JobOutcome> mRead;
    ReadValues mReadValues;
    Bytes mUid;
    WriteList mList;
    std::optional<JobOutcome> mWrite;
    bool mVerifyRan = false;
    Bytes mVerifyUid;
    std::vector<std::string> mMismatches;
};

// Names as a worker reads them in a message: "a", "a and b", "a, b and c".
std::string joinNames(const std::vector<std::string>& names);

} // namespace wynfc::cli
