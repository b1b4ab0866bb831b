#include "fault_bench.h"

#include "platform/sim/feig_frame.h"
#include "readers/ble_reader.h"

#include <iostream>

namespace wynfc::fault_test {
namespace {

constexpr int kCheckBlock = 0x3FC / 4;
constexpr int kSecondClo = 0x120 / 4 + 1; // a CLO time of the second channel
constexpr Millis kRoomForALoadedMachine{3000};

// Under the sanitizers every exchange takes several times longer; sound answers keep their
// margin over the countdown.
constexpr int kSlowdown = WYNFC_SANITIZER_SLOWDOWN;

// Each Bluetooth reader command ends with exactly one of these lines.
bool endsBleCommand(const std::string& line) {
    return line.rfind(BleReader::TAG, 0) == 0 &&
           (line.find("WAIT BLE RESPONSE TIMEOUT!!") != std::string::npos ||
            line.find("Parse frame ok!!!") != std::string::npos ||
            line.find("Parse frame error") != std::string::npos);
}

// The Bluetooth reader commands that have ended in this process, counted from the log, where
// each ends with one line. One count for every bench: jobs run one at a time, and an idle
// page's reader sends nothing. WYNFC_TEST_LOG=1 shows the lines.
struct CommandEnds {
    std::mutex mutex;
    std::condition_variable ended;
    long count = 0;
};

CommandEnds& commandEnds() {
    static CommandEnds* const ends = [] {
        auto* counted = new CommandEnds; // lives as long as the log sink that fills it
        setLogSink([counted, show = std::getenv("WYNFC_TEST_LOG") != nullptr](const std::string& line) {
            if (show) {
                std::cerr << line << '\n';
            }
            if (endsBleCommand(line)) {
                std::lock_guard lock(counted->mutex);
                ++counted->count;
                counted->ended.notify_all();
            }
        });
        return counted;
    }();
    return *ends;
}

} // namespace

// ---- the bench ----

FaultBench::FaultBench(ReaderMode mode, JobKind job, Timing timing)
    : mMode(mode), mJob(job), mTiming(timing),
      mBench(std::make_unique<WorkBench>(mode, "full_feature", timing)) {
    WorkBench& b = *mBench;
    commandEnds(); // counting from the first line on
    work_test::setCapabilities(*b.tag, {"support_aoc", "support_clo", "support_warm_and_cold_white"});
    // The sample's two CLO channels hold the same bytes: the second differs here, so that one
    // shown for the other cannot pass unseen.
    Bytes secondChannel = b.tag->blockBytes(kSecondClo, 1);
    secondChannel[0] ^= 0x01;
    b.tag->setMemory(kSecondClo, secondChannel);
    b.tag->setMemory(kCheckBlock, Bytes(4, 0xFF));
    mInitialMemory = b.tag->memory();

    b.feig->setRequestObserver([this](std::size_t, const Bytes& request) {
        if (auto step = stepOfRequest(request)) {
            onCommand(std::move(*step));
        }
    });
    b.nfc->setOperationObserver([this](const SessionOperation& operation) {
        if (auto step = stepOfOperation(operation)) {
            onCommand(std::move(*step));
        }
    });
    b.web->setScriptObserver([this](const std::string&) {
        std::lock_guard lock(mMutex);
        mChanged.notify_all();
    });
    mStateSubscription = b.page->state.observe([this](const WorkPageState& s) {
        std::lock_guard lock(mMutex);
        if (s.mStatusTips != mLastStatus) {
            mLastStatus = s.mStatusTips;
            mStatuses.push_back(s.mStatusTips);
        }
        mChanged.notify_all();
    });

    b.open();
    if (mode == ReaderMode::BLE) {
        b.connectReader();
        b.feig->putTag(b.tag); // the driver stays on the reader; faults take it away
    }
    b.read(); // a write is offered only after a successful read
}

FaultBench::~FaultBench() {
    mStateSubscription = {};
    mBench->close();
    mBench->feig->setRequestObserver({});
    mBench->nfc->setOperationObserver({});
    mBench.reset();
}

Timing FaultBench::shortTiming() {
    Timing timing;
    timing.countdownTick = Millis{30} * kSlowdown;
    timing.countdownStart = 2; // a timeout after three ticks
    timing.delayedEnding = Millis{5} * kSlowdown;
    // Jobs start from page requests, which wake the scan loop: it never turns by itself
    // within a case, so each request's commands come in one known order.
    timing.scanLoopPeriod = Millis{60000};
    return timing;
}

Millis FaultBench::jobLimit(std::size_t commands) const {
    return mTiming.countdownLimit() * static_cast<int>(commands + 1) + mTiming.delayedEnding +
           kRoomForALoadedMachine;
}

std::string FaultBench::writeData() const {
    return mBench->header() + R"(:[
        {"name": "nfc_data_addr_dc_dali_setting", "data": [{"propName": "max_level", "value": 200},
                                                          {"propName": "fade_time", "value": 7}]},
        {"name": "nfc_data_addr_dc_aoc", "data": [{"propName": "output_current", "value": 875}]}])";
}

void FaultBench::restoreTag() {
    mBench->tag->setMemory(0, mInitialMemory);
}

void FaultBench::recover() {
    WorkBench& b = *mBench;
    b.tag->clearFaults();
    if (mMode == ReaderMode::NFC) {
        return; // the next job presents the tag again
    }
    if (b.radio.state() != CentralState::poweredOn) {
        b.radio.powerOn();
    }
    b.feig->putTag(b.tag);
    b.main->waitIdle();
    BluetoothManager* manager = b.page->bluetoothManager();
    if (!manager->isConnected.get() || !manager->hasTransferCharacteristic()) {
        b.connectReader();
    }
}

// ---- commands ----

void FaultBench::onCommand(Step step) {
    std::optional<Fault> fault;
    bool answerAfterTheLateOne = false;
    {
        std::lock_guard lock(mMutex);
        for (const Step& earlier : mSteps) {
            step.occurrence += earlier.kind == step.kind && earlier.area == step.area ? 1 : 0;
        }
        if (mInjection && mInjection->step == static_cast<int>(mSteps.size())) {
            fault = mInjection->fault;
            mInjected = true;
        }
        answerAfterTheLateOne = std::exchange(mLateAnswerPending, fault == Fault::LateAnswer);
        mSteps.push_back(step);
        mChanged.notify_all();
    }
    if (answerAfterTheLateOne && mMode == ReaderMode::BLE) {
        // The late answer goes out as this command arrives; this command's own answer comes a
        // tick later, so that a reader that takes the first frame to come takes the wrong one.
        answerLater(mTiming.countdownTick);
    }
    if (fault) {
        inject(*fault, step);
    }
}

void FaultBench::inject(Fault fault, const Step& step) {
    WorkBench& b = *mBench;
    if (mMode == ReaderMode::BLE) {
        switch (fault) {
        case Fault::NoAnswer:
            return b.feig->planNextAnswer(FeigAnswerPlan::dropped());
        case Fault::ErrorStatus:
            return b.feig->planNextAnswer(FeigAnswerPlan::withStatus(feig::kStatusTagError));
        case Fault::SplitAnswer: // the header alone, one byte, then the rest
            return b.feig->planNextAnswer(FeigAnswerPlan::splitInto({6, 1}));
        case Fault::LostNotification: { // the header arrives, the next piece does not
            FeigAnswerPlan plan = FeigAnswerPlan::splitInto({6});
            plan.lostNotification = 1;
            return b.feig->planNextAnswer(plan);
        }
        case Fault::LateAnswer:
            return b.feig->planNextAnswer(FeigAnswerPlan::sentLate());
        case Fault::AnswerAfterWait: // a whole countdown late: a waiter woken late takes none
            return answerLater(mTiming.countdownLimit() * 2);
        case Fault::CorruptCrc:
            return b.feig->planNextAnswer(FeigAnswerPlan::withCorruptCrc());
        case Fault::TagRemoved:
            return b.feig->removeTag(b.tag);
        case Fault::ReaderDisconnects:
            return b.feig->planNextAnswer(FeigAnswerPlan::disconnecting());
        case Fault::BluetoothOff:
            return b.radio.powerOff();
        case Fault::PermissionRefused:
            return b.radio.refusePermission();
        case Fault::SheetClosed:
            break;
        }
        ADD_FAILURE() << faultName(fault) << " cannot be injected through the Bluetooth reader";
        return;
    }
    const auto operation = step.kind == Step::Kind::Write ? TagOperationKind::Write : TagOperationKind::Read;
    switch (fault) {
    case Fault::NoAnswer:
        return b.tag->injectFault(operation, TagAnswer::NoAnswer, step.firstBlock, 1);
    case Fault::ErrorStatus:
        if (step.kind == Step::Kind::Presence) {
            return b.nfc->failNextConnect(NfcError::tagResponseError());
        }
        return b.tag->injectFault(operation, TagAnswer::Failed, step.firstBlock, 1);
    case Fault::LateAnswer:
        return b.nfc->delayNextAnswer(mTiming.countdownLimit() * 2);
    case Fault::TagRemoved:
        return b.nfc->remove(b.tag);
    case Fault::SheetClosed:
        b.nfc->closeSheet();
        return;
    default:
        break;
    }
    ADD_FAILURE() << faultName(fault) << " cannot be injected through the tag session";
}

void FaultBench::answerLater(Millis delay) {
    {
        std::lock_guard lock(mMutex);
        mQuietFrom = std::max(mQuietFrom, std::chrono::steady_clock::now() + delay + mTiming.countdownTick);
    }
    mBench->feig->planNextAnswer(FeigAnswerPlan::delayed(delay));
}

void FaultBench::waitForQuietAir() {
    std::unique_lock lock(mMutex);
    mChanged.wait_until(lock, mQuietFrom, [&] { return std::chrono::steady_clock::now() >= mQuietFrom; });
}

// ---- jobs ----

template <typename Condition> bool FaultBench::waitFor(Condition condition, Millis limit) {
    std::unique_lock lock(mMutex);
    return mChanged.wait_for(lock, limit, [&] { return condition(); });
}

std::size_t FaultBench::stepsSoFar() const {
    std::lock_guard lock(mMutex);
    return mSteps.size();
}

int FaultBench::writeEvents() const {
    return mBench->countEvents(kWriteEventPayload);
}

JobRecord FaultBench::runJob(std::optional<Injection> injection) {
    WorkBench& b = *mBench;
    if (injection) {
        waitForQuietAir(); // a case meets the answers of its own commands only
    }
    b.main->waitIdle();
    b.web->clearScripts(); // what the page was sent before is no part of this job
    JobRecord record;
    record.before = b.page->snapshot();
    {
        std::lock_guard lock(mMutex);
        mSteps.clear();
        mStatuses.clear();
        mInjection = injection;
        mInjected = false;
    }
    {
        CommandEnds& ends = commandEnds();
        std::lock_guard lock(ends.mutex);
        mCommandsAtStart = ends.count;
    }

    const auto start = std::chrono::steady_clock::now();
    record.ended = mJob == JobKind::Read ? runRead(record) : runWrite(record);
    record.duration = std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - start);

    {
        std::lock_guard lock(mMutex);
        mInjection.reset();
        record.steps = mSteps;
        record.injected = mInjected;
        record.statuses = mStatuses;
    }
    record.after = b.page->snapshot();
    for (const std::string& script : b.web->scripts()) {
        if (auto call = parseEventScript(script)) {
            record.events.push_back({std::move(call->event), std::move(call->payload)});
        }
    }
    record.memory = b.tag->memory();
    return record;
}

bool FaultBench::runRead(JobRecord& record) {
    WorkBench& b = *mBench;
    const int runsBefore = record.before.mRunsEnded;
    if (mMode == ReaderMode::NFC) {
        b.post("SHOW_READ_MODE_POPUP:");
        const auto session = b.nfc->currentSession();
        b.nfc->present(b.tag);
        b.nfc->waitIdle(); // the tag was connected and the run began, or the session ended
        // A connection refused ends the session before any command of a run; a run's first
        // command is recorded before its fault is injected, which may end the session too.
        const bool ran = !(session->ending() && stepsSoFar() <= 1);
        const bool ended = !ran || waitForRun(runsBefore);
        record.sheetEnding = session->ending();
        return ended;
    }
    b.post("SHOW_READ_MODE_POPUP:"); // wakes the scan loop: its turn checks presence, then reads
    const auto begun = [&] {
        const WorkPageState s = b.page->snapshot();
        return s.mDisableCancel || s.mRunsEnded > runsBefore; // a short run may be over already
    };
    if (!presenceLetJobBegin(begun)) {
        return true; // nothing began: the job is over
    }
    return waitForRun(runsBefore) && waitForDelayedEnding(false);
}

bool FaultBench::runWrite(JobRecord& record) {
    WorkBench& b = *mBench;
    const int runsBefore = record.before.mRunsEnded;
    const int eventsBefore = writeEvents();
    std::shared_ptr<SimulatedTagReaderSession> session;
    b.post("SHOW_WRITE_MODE_POPUP:");
    if (mMode == ReaderMode::NFC) {
        session = b.nfc->currentSession();
        b.nfc->present(b.tag);
        b.nfc->waitIdle(); // "WRITE_EVENT" was sent on detection, or the session ended
    } else if (!presenceLetJobBegin([&] { return writeEvents() > eventsBefore; })) {
        return true; // no tag answered: the page was not asked for values
    }
    if (writeEvents() > eventsBefore) {
        b.post("WRITE_DATA:" + writeData());
        if (!waitForRun(runsBefore)) {
            return false;
        }
    }
    if (session) {
        record.sheetEnding = session->ending();
        return true;
    }
    return waitForDelayedEnding(true);
}

bool FaultBench::presenceLetJobBegin(const std::function<bool()>& begun) {
    const Millis limit = jobLimit(1);
    // Its command has ended: the scan turn goes on at once, or stops there.
    CommandEnds& ends = commandEnds();
    std::unique_lock lock(ends.mutex);
    if (!ends.ended.wait_for(lock, limit, [&] { return ends.count > mCommandsAtStart; })) {
        ADD_FAILURE() << "the presence command did not end within " << limit.count() << " ms";
        return false;
    }
    lock.unlock();
    return waitFor(begun, mTiming.countdownTick);
}

bool FaultBench::waitForRun(int runsBefore) {
    const Millis limit = jobLimit(16);
    WorkBench& b = *mBench;
    if (!b.page->waitForState([&](const WorkPageState& s) { return s.mRunsEnded > runsBefore; }, limit)) {
        return false;
    }
    b.page->waitForJobs();
    if (mMode == ReaderMode::NFC) {
        b.nfc->waitIdle();
    }
    b.main->waitIdle();
    return true;
}

bool FaultBench::waitForDelayedEnding(bool isWrite) {
    WorkBench& b = *mBench;
    const auto ended = [isWrite](const WorkPageState& s) {
        if (isWrite) {
            return !s.mShowBLEOperatePopup && s.mStatusTips == "Waiting to write...";
        }
        // A read that did not change the status line ends as it began; a successful one
        // closes the popup as well.
        return s.mStatusTips == "Waiting to read..." && (s.mReadFailed || !s.mShowBLEOperatePopup);
    };
    if (!b.page->waitForState(ended, jobLimit(0))) {
        return false;
    }
    // Lets a delayed ending still on its way happen before the next job.
    struct Marker {
        std::mutex mutex;
        std::condition_variable ran;
        bool done = false;
    };
    const auto marker = std::make_shared<Marker>();
    b.main->after(mTiming.delayedEnding * 2, [marker] {
        std::lock_guard lock(marker->mutex);
        marker->done = true;
        marker->ran.notify_all();
    });
    std::unique_lock lock(marker->mutex);
    return marker->ran.wait_for(lock, jobLimit(0), [&] { return marker->done; });
}

} // namespace wynfc::fault_test
