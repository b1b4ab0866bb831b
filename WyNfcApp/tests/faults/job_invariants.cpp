#include "job_invariants.h"

#include <algorithm>
#include <set>
#include <sstream>

namespace wynfc::fault_test {
namespace {

constexpr int kBlockSize = 4;
constexpr int kCheckBlock = 0x3FC / 4;
const Bytes kCheckPattern = {0xAA, 0x55, 0x5A, 0xA5};

constexpr const char* kIdentificationArea = "nfc_data_addr_dc_product_identification";
constexpr const char* kPropertiesArea = "nfc_data_addr_led_product_properties";
constexpr const char* kCapabilitiesArea = "nfc_data_addr_dc_capabilities_options";
constexpr const char* kGtinArea = "nfc_data_addr_driver_gtin";

bool contains(const std::vector<std::string>& list, const std::string& text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::string joined(const std::vector<std::string>& list) {
    std::string text;
    for (const std::string& item : list) {
        text += (text.empty() ? "\"" : ", \"") + item + "\"";
    }
    return "[" + text + "]";
}

std::vector<PageEvent> updatesOf(const JobRecord& record) {
    std::vector<PageEvent> updates;
    std::copy_if(record.events.begin(), record.events.end(), std::back_inserter(updates),
                 [](const PageEvent& e) { return e.event == kUpdateEvent; });
    return updates;
}

int writeEventsOf(const JobRecord& record) {
    return static_cast<int>(std::count_if(record.events.begin(), record.events.end(), [](const PageEvent& e) {
        return e.event == kNotifyEvent && e.payload == kWriteEventPayload;
    }));
}

// The page's keys of the sound read, minus one.
std::vector<std::string> keysWithout(const std::vector<PageEvent>& updates, const std::string& missing) {
    std::vector<std::string> keys;
    for (const PageEvent& e : updates) {
        if (e.key() != missing) {
            keys.push_back(e.key());
        }
    }
    return keys;
}

std::vector<std::string> keysOf(const std::vector<PageEvent>& updates) {
    return keysWithout(updates, "");
}

// The key under which the sound read showed the area (its first report).
std::string keyOfArea(const std::vector<PageEvent>& updates, const std::string& area) {
    for (const PageEvent& e : updates) {
        if (areaForUpdateKey(e.key()) == area) {
            return e.key();
        }
    }
    return {};
}

class Findings {
public:
    void add(const std::string& text) { mFound.push_back(text); }
    template <typename... Parts> void addIf(bool broken, const Parts&... parts) {
        if (broken) {
            std::ostringstream text;
            (text << ... << parts);
            mFound.push_back(text.str());
        }
    }
    void append(std::vector<std::string> more) {
        mFound.insert(mFound.end(), std::make_move_iterator(more.begin()),
                      std::make_move_iterator(more.end()));
    }
    std::vector<std::string> take() { return std::move(mFound); }

private:
    std::vector<std::string> mFound;
};

// Every value a page was shown is the driver's own: an answer taken for another command
// would show another area's bytes under this key.
void checkShownValues(Findings& found, const Reference& reference, const JobRecord& record) {
    for (const PageEvent& shown : updatesOf(record)) {
        const auto sound = std::find_if(reference.updates.begin(), reference.updates.end(),
                                        [&](const PageEvent& e) { return e.key() == shown.key(); });
        if (sound == reference.updates.end()) {
            found.add("the page was sent \"" + shown.key() + "\", which a sound read does not send");
        } else if (sound->payload != shown.payload) {
            found.add("the page was shown other values under \"" + shown.key() + "\": " + shown.payload);
        }
    }
}

// Each block holds its old bytes or the write's new ones, and the check pattern stands only
// on a tag whose every area was written.
void checkBlocks(Findings& found, const FaultBench& bench, const Reference& reference,
                 const JobRecord& record) {
    const Bytes& old = bench.initialMemory();
    const Bytes& intended = bench.job() == JobKind::Write ? reference.intendedMemory : old;
    if (record.memory.size() != old.size()) {
        found.add("the tag's memory changed size");
        return;
    }
    for (std::size_t block = 0; block * kBlockSize < old.size(); ++block) {
        const auto at = [&](const Bytes& memory) {
            const auto first = memory.begin() + static_cast<std::ptrdiff_t>(block * kBlockSize);
            return Bytes(first, first + kBlockSize);
        };
        const Bytes now = at(record.memory);
        found.addIf(now != at(old) && now != at(intended), "block ", block,
                    " holds neither its old nor its new bytes");
    }
    const auto check = record.memory.begin() + kCheckBlock * kBlockSize;
    const bool sealed = std::equal(kCheckPattern.begin(), kCheckPattern.end(), check);
    found.addIf(sealed && record.memory != intended, "the check pattern was written before every area was");
}

void checkSessionEnding(Findings& found, const FaultBench& bench, const JobRecord& record, Outcome outcome) {
    if (bench.mode() != ReaderMode::NFC) {
        return;
    }
    if (!record.sheetEnding) {
        found.add("the tag session's sheet is still open");
        return;
    }
    const SheetEnding& ending = *record.sheetEnding;
    if (ending.reason == SheetEnding::Reason::ClosedByUser) {
        return;
    }
    found.addIf(ending.reason != SheetEnding::Reason::ErrorMessage, "the sheet ended as a success");
    static const std::set<std::string> readTexts = {"Read Failed", "Read failed", "Read timeout"};
    static const std::set<std::string> writeTexts = {"Write Failed",  "Write failed",
                                                     "Write timeout", "Read failed",
                                                     "Read timeout",  "Driver subtype is not match."};
    // A connection that failed ends the session with the platform error's description.
    static const std::set<std::string> connectionTexts = {NfcError::tagResponseError().description,
                                                          NfcError::connectionLost().description,
                                                          NfcError::sessionInvalidated().description};
    const auto& texts = outcome == Outcome::NothingBegins ? connectionTexts
                        : bench.job() == JobKind::Read    ? readTexts
                                                          : writeTexts;
    found.addIf(texts.count(ending.message) == 0, "the sheet ended with \"", ending.message, "\"");
}

// The statuses a failure may show, the one it must end with, and its detail line.
void checkStatuses(Findings& found, JobKind job, const JobRecord& record, Outcome outcome) {
    std::set<std::string> allowed = {job == JobKind::Read ? "Waiting to read..." : "Waiting to write..."};
    std::string failure;
    std::string detail;
    bool progress = false;
    switch (outcome) {
    case Outcome::Completes:
    case Outcome::NothingBegins:
    case Outcome::StatusKept:
        break;
    case Outcome::NotSupported:
        failure = detail = "Not Support this product";
        break;
    case Outcome::FunctionalData:
    case Outcome::FirstChannel:
        failure = "Read failed";
        detail = "Read failed: functional data";
        progress = true;
        break;
    case Outcome::DriverMismatch:
        failure = "Write failed";
        detail = "Write failed: Driver subtype is not match.";
        break;
    case Outcome::WriteFailed:
        failure = "Write failed";
        detail = "Write failed: Write failed";
        progress = true;
        break;
    }
    if (!failure.empty()) {
        allowed.insert(failure);
        found.addIf(!contains(record.statuses, failure), "the job did not end with \"", failure, "\" but ",
                    joined(record.statuses));
        found.addIf(record.after.mErrorTips != detail, "the detail line is \"", record.after.mErrorTips,
                    "\"");
    }
    for (const std::string& status : record.statuses) {
        const bool isProgress =
            progress && (startsWith(status, "Reading ") || startsWith(status, "Writing "));
        found.addIf(!isProgress && allowed.count(status) == 0, "the job showed \"", status, "\" for ",
                    outcomeName(outcome));
    }
}

} // namespace

std::string_view outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Completes:
        return "a completed job";
    case Outcome::NothingBegins:
        return "a failed presence check";
    case Outcome::NotSupported:
        return "an unreadable identification";
    case Outcome::StatusKept:
        return "an unreadable product description";
    case Outcome::FunctionalData:
        return "a failed area read";
    case Outcome::FirstChannel:
        return "a failed first channel";
    case Outcome::DriverMismatch:
        return "an unreadable identification before a write";
    case Outcome::WriteFailed:
        return "a failed area write";
    }
    return "?";
}

Reference referenceJob(FaultBench& bench) {
    const JobRecord sound = bench.runJob();
    Reference reference;
    reference.steps = sound.steps;
    reference.updates = updatesOf(sound);
    reference.intendedMemory = sound.memory;
    const auto found = checkCompletedJob(bench, reference, sound);
    EXPECT_TRUE(found.empty()) << "the sound " << jobName(bench.job()) << ": " << joined(found);
    EXPECT_NE(sound.memory == bench.initialMemory(), bench.job() == JobKind::Write)
        << "a sound write changes the tag, a read does not";
    bench.restoreTag();
    return reference;
}

Outcome expectedOutcome(JobKind job, const std::vector<Step>& steps, const Injection& injection) {
    if (isBenign(injection.fault)) {
        return Outcome::Completes;
    }
    const auto index = static_cast<std::size_t>(injection.step);
    const Step& step = steps.at(index);
    if (step.kind == Step::Kind::Presence) {
        return Outcome::NothingBegins;
    }
    if (job == JobKind::Write) {
        return step.area == kIdentificationArea ? Outcome::DriverMismatch : Outcome::WriteFailed;
    }
    if (step.area == kIdentificationArea) {
        return Outcome::NotSupported;
    }
    if (step.area == kPropertiesArea || step.area == kGtinArea ||
        (step.area == kCapabilitiesArea && step.occurrence == 0)) {
        return Outcome::StatusKept;
    }
    if (index + 1 < steps.size() && steps[index + 1].area == step.area + "2") {
        return Outcome::FirstChannel;
    }
    return Outcome::FunctionalData;
}

std::vector<std::string> checkCompletedJob(const FaultBench& bench, const Reference& reference,
                                           const JobRecord& record) {
    Findings found;
    if (!record.ended) {
        found.add("the job did not end within its limit");
        return found.take();
    }
    const bool isRead = bench.job() == JobKind::Read;
    const std::string completed = isRead ? "Read completed" : "Write completed";
    found.addIf(!contains(record.statuses, completed), "the job did not complete: ", joined(record.statuses));
    found.addIf(isRead && keysOf(updatesOf(record)) != keysOf(reference.updates), "the page was sent ",
                joined(keysOf(updatesOf(record))));
    checkShownValues(found, reference, record);
    found.addIf(writeEventsOf(record) != (isRead ? 0 : 1), "\"WRITE_EVENT\" was sent ", writeEventsOf(record),
                " times");
    found.addIf(record.memory != (isRead ? bench.initialMemory() : reference.intendedMemory),
                "the tag does not hold what a sound ", jobName(bench.job()), " leaves");
    if (bench.mode() == ReaderMode::NFC) {
        const std::string text = isRead ? "Read Completed" : "Write Completed";
        found.addIf(!record.sheetEnding || record.sheetEnding->reason != SheetEnding::Reason::Success ||
                        record.sheetEnding->message != text,
                    "the sheet did not close with \"", text, "\"");
    } else {
        found.addIf(record.after.mShowBLEOperatePopup, "the waiting popup stayed open");
    }
    return found.take();
}

std::vector<std::string> checkFaultedJob(const FaultBench& bench, const Reference& reference,
                                         const Injection& injection, const JobRecord& record) {
    Findings found;
    if (!record.ended) {
        found.add("the job did not end within its limit");
        return found.take();
    }
    found.addIf(!record.injected, "the job sent ", record.steps.size(), " commands: the fault found none");
    found.addIf(record.duration > bench.jobLimit(reference.steps.size()), "the job took ",
                record.duration.count(), " ms");
    checkBlocks(found, bench, reference, record);
    const Outcome outcome = expectedOutcome(bench.job(), reference.steps, injection);
    if (outcome == Outcome::Completes) {
        found.append(checkCompletedJob(bench, reference, record));
        return found.take();
    }

    // A read that lost its first channel to the fault may still complete, as documented:
    // then the page has every value but that channel's.
    const std::string firstChannelKey =
        outcome == Outcome::FirstChannel
            ? keyOfArea(reference.updates, reference.steps[static_cast<std::size_t>(injection.step)].area)
            : std::string();
    const bool completedWithoutFirstChannel =
        outcome == Outcome::FirstChannel && contains(record.statuses, "Read completed") &&
        keysOf(updatesOf(record)) == keysWithout(reference.updates, firstChannelKey);
    if (!completedWithoutFirstChannel) {
        found.addIf(contains(record.statuses, "Read completed") ||
                        contains(record.statuses, "Write completed"),
                    "a job that met ", faultName(injection.fault), " completed: ", joined(record.statuses));
        checkStatuses(found, bench.job(), record, outcome);
    }
    checkShownValues(found, reference, record);

    const auto updates = updatesOf(record);
    switch (outcome) {
    case Outcome::NothingBegins:
        found.addIf(record.after.mRunsEnded != record.before.mRunsEnded, "a run began without a tag");
        [[fallthrough]];
    case Outcome::NotSupported:
        found.addIf(!updates.empty(), "the page was sent values: ", joined(keysOf(updates)));
        break;
    case Outcome::StatusKept:
        found.addIf(keysOf(updates) != std::vector<std::string>{"identification"}, "the page was sent ",
                    joined(keysOf(updates)));
        break;
    default:
        break;
    }
    const int expectedWriteEvents =
        bench.job() == JobKind::Write && outcome != Outcome::NothingBegins ? 1 : 0;
    found.addIf(writeEventsOf(record) != expectedWriteEvents, "\"WRITE_EVENT\" was sent ",
                writeEventsOf(record), " times");

    checkSessionEnding(found, bench, record, outcome);
    if (bench.mode() == ReaderMode::BLE) {
        // The device sheet comes back with the prompt that fits.
        switch (injection.fault) {
        case Fault::BluetoothOff:
            found.addIf(!record.after.mShowBLE || !record.after.mShowBLEDisable,
                        "no \"Please enable Bluetooth.\"");
            break;
        case Fault::PermissionRefused:
            found.addIf(!record.after.mShowBLE || !record.after.mShowBLEUnAuth,
                        "no \"Please grant Bluetooth access to App.\"");
            break;
        case Fault::ReaderDisconnects:
            found.addIf(!record.after.mShowBLE, "the device sheet did not come back");
            break;
        default:
            break;
        }
        // A failed read leaves its popup open for the scan loop's next try; a write, or a
        // read that completed, closes it.
        const bool closes = completedWithoutFirstChannel ||
                            (bench.job() == JobKind::Write && outcome != Outcome::NothingBegins);
        found.addIf(record.after.mShowBLEOperatePopup == closes, "the waiting popup is ",
                    record.after.mShowBLEOperatePopup ? "open" : "closed");
    }
    return found.take();
}

} // namespace wynfc::fault_test
