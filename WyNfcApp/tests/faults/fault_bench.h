#pragma once

// A work page on the simulated driver and readers that runs read and write jobs with one
// fault injected into one chosen command, counted as the job sends its commands. Shared by
// the fault matrix and the soak test.

#include "fault_kinds.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wynfc::fault_test {

using work_test::PageEvent;
using work_test::WorkBench;

// What one job did, from its first page request to its end (delayed ending included).
struct JobRecord {
    bool ended = false; // within the bench's job limit
    Millis duration{};
    std::vector<Step> steps;           // commands received, in order
    std::vector<std::string> statuses; // the status line's changes, in order
    WorkPageState before;
    WorkPageState after;
    std::vector<PageEvent> events;          // page events sent during the job
    bool injected = false;                  // the fault found its command
    std::optional<SheetEnding> sheetEnding; // phone NFC: how the job's session ended
    Bytes memory;                           // the tag's memory after the job
};

class FaultBench {
public:
    // A page in the mode, opened, its reader connected (Bluetooth), and read once (a write
    // needs a successful read first). The driver announces AOC, CLO and two channels: a read
    // has a two-channel step. The check block starts as FF FF FF FF.
    FaultBench(ReaderMode mode, JobKind job, Timing timing);
    ~FaultBench();

    FaultBench(const FaultBench&) = delete;
    FaultBench& operator=(const FaultBench&) = delete;

    static Timing shortTiming();

    ReaderMode mode() const { return mMode; }
    JobKind job() const { return mJob; }
    const Timing& timing() const { return mTiming; }
    // Longest a job may take: a countdown for each command it may send, the delayed ending,
    // and room for a loaded machine.
    Millis jobLimit(std::size_t commands) const;

    // Runs one job, with the fault injected into its command `injection.step`.
    JobRecord runJob(std::optional<Injection> injection = std::nullopt);

    // Undoes what a fault left: faults cleared, the tag back in the field, Bluetooth on and
    // the reader connected again. The jobs themselves are not helped.
    void recover();
    // The tag's memory back as it was before the first job.
    void restoreTag();

    const Bytes& initialMemory() const { return mInitialMemory; }
    // The write request the write jobs send: two areas, one of several blocks.
    std::string writeData() const;
    WorkBench& bench() { return *mBench; }

private:
    void onCommand(Step step);
    void inject(Fault fault, const Step& step);
    // Plans the next request's answer to come after the delay.
    void answerLater(Millis delay);
    // Until every answer planned to come late has come.
    void waitForQuietAir();
    bool runRead(JobRecord& record);
    bool runWrite(JobRecord& record);
    // Bluetooth: the scan loop's presence command has ended; true when a job began after it.
    bool presenceLetJobBegin(const std::function<bool()>& begun);
    bool waitForRun(int runsBefore);
    bool waitForDelayedEnding(bool isWrite);
    template <typename Condition> bool waitFor(Condition condition, Millis limit);
    int writeEvents() const;
    std::size_t stepsSoFar() const;

    const ReaderMode mMode;
    const JobKind mJob;
    const Timing mTiming;
    std::unique_ptr<WorkBench> mBench;
    Bytes mInitialMemory;
    Published<WorkPageState>::Subscription mStateSubscription;

    mutable std::mutex mMutex;
    std::condition_variable mChanged; // page state, page events, commands
    std::vector<Step> mSteps;
    std::vector<std::string> mStatuses; // of the job running
    std::string mLastStatus;
    std::optional<Injection> mInjection;
    bool mInjected = false;
    bool mLateAnswerPending = false; // the reader holds an answer back until the next command
    std::chrono::steady_clock::time_point mQuietFrom{};
    long mCommandsAtStart = 0; // Bluetooth reader commands ended in the process before the job
};

} // namespace wynfc::fault_test
