#pragma once

#include "cli/cli_options.h"
#include "cli/map_file.h"
#include "cli/page_host.h"
#include "platform/bundle.h"
#include "platform/sim/tag_queue.h"
#include "platform/sim/virtual_tag.h"
#include "platform/timing.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace wynfc::cli {

// What the commands share: the resources, the timing, the page host of a job and its output.

// The shipped resources: the folder $WYNFC_RESOURCES names, else ../share/wynfc beside this
// program (an installed or unpacked tree), else the source tree's, as for the application.
std::string resourcesDir();
// The whole file; throws UsageError naming what it is ("values file") when it cannot be read.
std::string readFile(const std::string& path, const char* what);
// WYNFC_TIME_SCALE (e.g. 0.01), for tests: what the product's durations are multiplied by.
double timeScale();
// The product's durations; WYNFC_TIME_SCALE shortens them all, for tests.
Timing timing();
// The shipped resources, with the product table of --products when given.
std::shared_ptr<const Bundle> bundleFor(const Options& options);
// Loads the address map into the library, as the application does at start-up, and reads its
// areas for the command line's own use.
MapFile loadMap(const Options& options);
// The simulated driver of --tag, else the shipped full_feature sample.
std::shared_ptr<VirtualTag> loadTag(const Options& options);

// Ends the progress line on standard error, when it is a terminal.
void endProgress();

// What the links of one job took, with a link model, and the CPU the whole process (the
// simulated reader's threads included) used meanwhile: nearly all of a job is waiting.
struct LinkReport {
    std::string job;
    LinkAccount::Totals link;
    std::chrono::steady_clock::duration taken{};
    std::chrono::nanoseconds cpu{};
};

// The page of one command, on the reader chosen, with the simulated driver (tag) or drivers
// (queue).
struct Session {
    std::shared_ptr<VirtualTag> tag;
    std::shared_ptr<SimulatedTagQueue> queue;
    std::unique_ptr<PageHost> host;
    std::vector<LinkReport> linkReports;
};

// Opens the page on the reader of the options. With a queue, its drivers are laid on the
// simulated reader instead of the one of --tag. --json streams the page's events to `out`.
Session openSession(const Options& options, std::ostream& out,
                    std::shared_ptr<SimulatedTagQueue> queue = nullptr);

// Runs one job of the session; with a link model its link time and duration are kept for
// printLinkReports.
JobOutcome runJob(Session& session, const Options& options, const std::string& name,
                  const std::function<JobOutcome()>& job);
// One line per job run with a link model, before the outcome; the reports are then dropped.
void printLinkReports(std::ostream& out, const Options& options, Session& session);
void printOutcome(std::ostream& out, const Options& options, const JobOutcome& outcome);
// Prints the events from `first` on, readably.
void printEvents(std::ostream& out, const std::vector<PageEvent>& events, size_t first = 0);

} // namespace wynfc::cli
