// The fault matrix: for each reader and job, every fault the simulation can inject, at every
// command the job sends. The commands are counted from a sound run of the same job, so a
// job that gains a step is covered without touching this file.

#include "job_invariants.h"
#include "process_resources.h"

#include <algorithm>
#include <chrono>
#include <iostream>

namespace wynfc::fault_test {
namespace {

[[maybe_unused]] const auto* const kMap =
    ::testing::AddGlobalTestEnvironment(new work_test::ShippedMapEnvironment);

constexpr Millis kThreadExit{2000};

struct Part {
    ReaderMode mode;
    JobKind job;
};

void PrintTo(const Part& part, std::ostream* out) {
    *out << rawValue(part.mode) << " " << jobName(part.job);
}

std::string partName(const ::testing::TestParamInfo<Part>& info) {
    return std::string(rawValue(info.param.mode)) + (info.param.job == JobKind::Read ? "Read" : "Write");
}

std::string listed(const std::vector<std::string>& findings) {
    std::string text;
    for (const std::string& finding : findings) {
        text += "\n    " + finding;
    }
    return text;
}

// WYNFC_FAULT_CASE="<command>:<fault>" (as the failures name them, e.g. "7:late answer") runs
// the cases that begin so ("7:" every fault at command 7).
bool selected(const Injection& injection) {
    const char* only = std::getenv("WYNFC_FAULT_CASE");
    const std::string name = std::to_string(injection.step) + ":" + std::string(faultName(injection.fault));
    return only == nullptr || name.rfind(only, 0) == 0;
}

class FaultMatrix : public ::testing::TestWithParam<Part> {};

TEST_P(FaultMatrix, EveryFaultAtEveryCommand) {
    const Part part = GetParam();
    const auto start = std::chrono::steady_clock::now();
    const std::set<pid_t> threadsBefore = threadsBeforeJobs();
    const Timing timing = FaultBench::shortTiming();
    std::vector<std::string> failures;
    int cases = 0;
    std::size_t commands = 0;
    Millis longest{0};
    {
        auto bench = std::make_unique<FaultBench>(part.mode, part.job, timing);
        const Reference reference = referenceJob(*bench);
        ASSERT_FALSE(reference.steps.empty());
        commands = reference.steps.size();
        std::set<pid_t> steadyThreads = threadIds();

        for (std::size_t step = 0; step < reference.steps.size(); ++step) {
            for (const Fault fault : faultsFor(part.mode, reference.steps[step].kind)) {
                const Injection injection{static_cast<int>(step), fault};
                if (!selected(injection)) {
                    continue;
                }
                ++cases;
                bench->restoreTag();
                const JobRecord faulted = bench->runJob(injection);
                longest = std::max(longest, faulted.duration);
                std::vector<std::string> found = checkFaultedJob(*bench, reference, injection, faulted);
                if (faulted.ended) {
                    // The same page, the fault gone: the next job completes.
                    bench->recover();
                    const JobRecord next = bench->runJob();
                    for (const std::string& finding : checkCompletedJob(*bench, reference, next)) {
                        found.push_back("the next job: " + finding);
                    }
                    const auto left = threadsStillRunning(steadyThreads, kThreadExit);
                    if (!left.empty()) {
                        found.push_back(std::to_string(left.size()) + " thread(s) still running");
                    }
                }
                if (!found.empty()) {
                    const std::string failure = describe(injection, reference.steps) + listed(found);
                    std::cout << "FAULT " << failure << std::endl; // before a hang can hide it
                    failures.push_back(failure);
                    // A page left in an unknown state would blame the cases after it.
                    bench.reset(); // first: each bench hands the log back to the one before
                    bench = std::make_unique<FaultBench>(part.mode, part.job, timing);
                    steadyThreads = threadIds();
                }
            }
        }
    }
    EXPECT_TRUE(threadsStillRunning(threadsBefore, kThreadExit).empty()) << "threads outlived the page";

    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "fault matrix, " << rawValue(part.mode) << " " << jobName(part.job) << ": " << cases
              << " cases (" << commands << " commands, each with every fault it can meet) in " << seconds
              << " s; the longest faulted job took " << longest.count() << " ms (a countdown is "
              << timing.countdownLimit().count() << " ms)" << std::endl;
    EXPECT_TRUE(failures.empty()) << failures.size() << " of " << cases << " cases failed:\n"
                                  << [&] {
                                         std::string all;
                                         for (const std::string& failure : failures) {
                                             all += failure + "\n";
                                         }
                                         return all;
                                     }();
}

INSTANTIATE_TEST_SUITE_P(Readers, FaultMatrix,
                         ::testing::Values(Part{ReaderMode::NFC, JobKind::Read},
                                           Part{ReaderMode::NFC, JobKind::Write},
                                           Part{ReaderMode::BLE, JobKind::Read},
                                           Part{ReaderMode::BLE, JobKind::Write}),
                         partName);

} // namespace
} // namespace wynfc::fault_test
