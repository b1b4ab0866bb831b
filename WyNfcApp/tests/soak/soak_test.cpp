// The soak: a thousand read and write jobs through both simulated readers, most of them with a
// fault drawn at random (which job, which command, which fault) from a fixed seed. Every job
// holds to the fault matrix's invariants, and the process's memory, threads and open files
// stay as they were once the first hundred jobs had run.
//
// WYNFC_SOAK_SEED replays a run (the seed is printed); WYNFC_SOAK_JOBS sets how many jobs.

#include "job_invariants.h"
#include "process_resources.h"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <malloc.h>
#include <random>

namespace wynfc::fault_test {
namespace {

[[maybe_unused]] const auto* const kMap =
    ::testing::AddGlobalTestEnvironment(new work_test::ShippedMapEnvironment);

constexpr std::uint32_t kSeed = 20240611;
constexpr int kJobs = 1000;
constexpr int kSettledAfter = 100;
constexpr double kFaultShare = 0.7;
constexpr Millis kThreadExit{2000};
// What the simulation records of every job (each request the Bluetooth reader received) and
// what the allocator keeps in its arenas move the resident size by well under this.
constexpr std::size_t kMemoryAllowanceKiB = 3 * 1024;

constexpr bool kSanitized = WYNFC_SANITIZER_SLOWDOWN > 1;

std::uint32_t numberFromEnvironment(const char* name, std::uint32_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? static_cast<std::uint32_t>(std::stoul(text)) : fallback;
}

struct Usage {
    std::size_t residentKiB = 0;
    std::size_t threads = 0;
    std::size_t files = 0;
};

Usage usage() {
    malloc_trim(0); // what is measured is what is held, not what the allocator kept
    return {residentKiB(), threadIds().size(), openFileCount()};
}

// One page per reader and job kind, each with the sound run its faulted runs are held to.
struct Lane {
    ReaderMode mode;
    JobKind job;
    std::unique_ptr<FaultBench> bench;
    Reference reference;

    void open(const Timing& timing) {
        bench.reset(); // first: each bench hands the log back to the one before
        bench = std::make_unique<FaultBench>(mode, job, timing);
        reference = referenceJob(*bench);
    }
    std::string name() const { return std::string(rawValue(mode)) + " " + std::string(jobName(job)); }
};

TEST(Soak, AThousandJobsWithRandomFaults) {
    const std::uint32_t seed = numberFromEnvironment("WYNFC_SOAK_SEED", kSeed);
    const int jobs = static_cast<int>(numberFromEnvironment("WYNFC_SOAK_JOBS", kJobs));
    std::cout << "soak: seed " << seed << " (WYNFC_SOAK_SEED=" << seed << " replays it), " << jobs << " jobs"
              << std::endl;
    const auto start = std::chrono::steady_clock::now();
    const std::set<pid_t> threadsBefore = threadsBeforeJobs();
    const Timing timing = FaultBench::shortTiming();
    std::mt19937 random(seed);

    std::vector<Lane> lanes;
    for (const ReaderMode mode : {ReaderMode::NFC, ReaderMode::BLE}) {
        for (const JobKind job : {JobKind::Read, JobKind::Write}) {
            lanes.push_back(Lane{mode, job, nullptr, {}});
            lanes.back().open(timing);
            ASSERT_FALSE(lanes.back().reference.steps.empty()) << lanes.back().name();
        }
    }
    std::set<pid_t> steadyThreads = threadIds();

    std::vector<std::string> failures;
    std::optional<Usage> settled;
    int done = 0;
    int faulted = 0;
    while (done < jobs) {
        Lane& lane = lanes[std::uniform_int_distribution<std::size_t>(0, lanes.size() - 1)(random)];
        std::optional<Injection> injection;
        if (std::bernoulli_distribution(kFaultShare)(random)) {
            const auto& steps = lane.reference.steps;
            const auto step = std::uniform_int_distribution<std::size_t>(0, steps.size() - 1)(random);
            const auto faults = faultsFor(lane.mode, steps[step].kind);
            const auto fault =
                faults[std::uniform_int_distribution<std::size_t>(0, faults.size() - 1)(random)];
            injection = Injection{static_cast<int>(step), fault};
            ++faulted;
        }

        lane.bench->restoreTag();
        const JobRecord record = lane.bench->runJob(injection);
        ++done;
        std::vector<std::string> found =
            injection ? checkFaultedJob(*lane.bench, lane.reference, *injection, record)
                      : checkCompletedJob(*lane.bench, lane.reference, record);
        if (injection && record.ended) {
            // The same page, the fault gone: the next job completes.
            lane.bench->recover();
            const JobRecord next = lane.bench->runJob();
            ++done;
            for (const std::string& finding : checkCompletedJob(*lane.bench, lane.reference, next)) {
                found.push_back("the next job: " + finding);
            }
        }
        if (const auto left = threadsStillRunning(steadyThreads, kThreadExit); !left.empty()) {
            found.push_back(std::to_string(left.size()) + " thread(s) still running");
        }
        if (!found.empty()) {
            std::string failure = "job " + std::to_string(done) + ", " + lane.name() + ", " +
                                  (injection ? describe(*injection, lane.reference.steps) : "no fault") + ":";
            for (const std::string& finding : found) {
                failure += "\n    " + finding;
            }
            std::cout << "SOAK " << failure << std::endl;
            failures.push_back(failure);
            if (failures.size() >= 10) {
                break; // enough to go on; the seed replays the rest
            }
            lane.open(timing); // a page in an unknown state would blame the jobs after it
            steadyThreads = threadIds();
            settled.reset(); // the resources are measured again from here
        }
        if (!settled && done >= kSettledAfter && failures.empty()) {
            settled = usage();
        }
    }
    const Usage end = usage(); // the pages still open, their jobs over
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "soak: " << done << " jobs (" << faulted
              << " with a fault, each followed by a sound one) in " << seconds << " s; seed " << seed
              << std::endl;
    EXPECT_TRUE(failures.empty()) << failures.size() << " jobs failed (seed " << seed << "):\n"
                                  << [&] {
                                         std::string all;
                                         for (const std::string& failure : failures) {
                                             all += failure + "\n";
                                         }
                                         return all;
                                     }();
    ASSERT_TRUE(settled) << "fewer than " << kSettledAfter << " jobs ran without a failure";
    std::cout << "soak: after " << kSettledAfter << " jobs " << settled->residentKiB << " KiB resident, "
              << settled->threads << " threads, " << settled->files << " open files; at the end "
              << end.residentKiB << " KiB, " << end.threads << " threads, " << end.files << " files"
              << std::endl;
    EXPECT_EQ(end.threads, settled->threads) << "threads grew (seed " << seed << ")";
    EXPECT_EQ(end.files, settled->files) << "open files grew (seed " << seed << ")";
    if (kSanitized) {
        std::cout << "soak: resident memory not judged under a sanitizer (its shadow memory and quarantine "
                     "grow by design)"
                  << std::endl;
    } else {
        EXPECT_LE(end.residentKiB, settled->residentKiB + kMemoryAllowanceKiB)
            << "resident memory grew (seed " << seed << ")";
    }

    lanes.clear();
    EXPECT_TRUE(threadsStillRunning(threadsBefore, kThreadExit).empty()) << "threads outlived the pages";
}

} // namespace
} // namespace wynfc::fault_test
