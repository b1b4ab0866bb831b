// End-to-end jobs with the simulation's link model on: a full read and a full write (read,
// write, verify read) of each sample driver through each simulated reader, wynfc run as a
// process as a user runs it. For every job: the time it took, the modelled link time (the
// floor no software can go below), their ratio, the round trips and the CPU the process used
// during the job (per job and per second of it); for every process: its peak resident memory.
//
//   wynfc_job_bench PATH_TO_WYNFC [RUNS]
//
// Each case runs RUNS times (default 3); the table shows the median run by job time. Prints a
// Markdown table.

#include "child_process.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// The changes `make run` writes; the basic driver has only the first one's area.
const std::vector<std::string> kWriteChanges = {
    "nfc_data_addr_dc_dali_setting.max_level=230",
    "nfc_data_addr_dc_aoc.output_current=700",
    "nfc_data_addr_dc_aoc.aoc_config.aoc_enable=1",
    "nfc_data_addr_dc_memory_bank_01.luminaire_gtin=4012345000009",
};

std::vector<std::string> changesFor(const std::string& sample) {
    return sample == "basic" ? std::vector<std::string>{kWriteChanges.front()} : kWriteChanges;
}

using ProcessRun = wynfc::bench::ChildRun;

struct JobFigures {
    std::string job;
    double takenMs = 0;
    double floorMs = 0;
    long roundTrips = 0;
    double cpuMs = 0;
};

std::vector<JobFigures> linkLines(const std::string& out) {
    std::vector<JobFigures> jobs;
    std::size_t start = 0;
    while (start < out.size()) {
        const std::size_t end = out.find('\n', start);
        const std::string line =
            out.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? out.size() : end + 1;
        const json parsed = json::parse(line, nullptr, false);
        if (parsed.is_object() && parsed.contains("link")) {
            const json& link = parsed["link"];
            jobs.push_back(
                {link["job"], link["takenMs"], link["modelledMs"], link["roundTrips"], link["cpuMs"]});
        }
    }
    return jobs;
}

// The run in the middle by wall time.
ProcessRun medianRun(const std::vector<std::string>& arguments, int runs,
                     const std::vector<std::string>& extraEnvironment = {}) {
    std::vector<ProcessRun> done;
    for (int run = 0; run < runs; ++run) {
        done.push_back(wynfc::bench::runChild(arguments, extraEnvironment));
    }
    std::sort(done.begin(), done.end(),
              [](const ProcessRun& a, const ProcessRun& b) { return a.wallMs < b.wallMs; });
    return done[done.size() / 2];
}

// Cold starts of commands that do no job: how long a user waits for the program itself.
int printStartUps(const std::string& wynfc, const std::filesystem::path& samples) {
    const std::vector<std::vector<std::string>> commands = {
        {wynfc, "version"},
        {wynfc, "areas"},
        {wynfc, "decode", "--area", "nfc_data_addr_dc_memory_bank_01", "--tag",
         (samples / "full_feature.json").string()},
    };
    std::cout << "\n| Command | Wall (ms) | CPU (ms) | Peak RSS (MiB) |\n|---|---:|---:|---:|\n";
    int failures = 0;
    for (const auto& command : commands) {
        const ProcessRun median = medianRun(command, 11);
        std::string shown = "wynfc";
        for (std::size_t i = 1; i < command.size(); ++i) {
            shown += " " + (command[i].find('/') == std::string::npos
                                ? command[i]
                                : std::filesystem::path(command[i]).filename().string());
        }
        char row[400];
        std::snprintf(row, sizeof row, "| `%s` | %.1f | %.1f | %.1f |\n", shown.c_str(), median.wallMs,
                      median.cpuMs, static_cast<double>(median.peakRssKiB) / 1024.0);
        std::cout << (median.status == 0 ? row : "| `" + shown + "` | failed | | |\n");
        failures += median.status == 0 ? 0 : 1;
    }
    return failures;
}

struct Case {
    std::string sample;
    std::string reader;
    std::string model;
    bool write;
    bool coalesce = false;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: wynfc_job_bench PATH_TO_WYNFC [RUNS]\n";
        return 2;
    }
    const std::string wynfc = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::filesystem::path samples = std::filesystem::path(WYNFC_RESOURCES_DIR) / "samples";
    const std::filesystem::path saved =
        std::filesystem::temp_directory_path() / ("wynfc_job_bench_" + std::to_string(getpid()) + ".json");

    std::vector<Case> cases;
    for (const char* sample : {"full_feature", "basic"}) {
        for (const auto& [reader, model] : {std::pair{"sim-ble", "ble"}, std::pair{"sim-nfc", "nfc"}}) {
            for (const bool write : {false, true}) {
                cases.push_back({sample, reader, model, write});
            }
        }
        // Neighbouring areas read together over Bluetooth: the saving in round trips and time.
        for (const bool write : {false, true}) {
            cases.push_back({sample, "sim-ble", "ble", write, true});
        }
    }

    std::cout
        << "| Sample | Reader | Job | Took (ms) | Link floor (ms) | Ratio | Round trips | CPU in job (ms) "
           "| CPU (ms per s) | Process wall (ms) | App's delayed endings (ms) | Process CPU (ms) | Peak RSS "
           "(MiB) |\n"
        << "|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    int failures = 0;
    for (const Case& c : cases) {
        std::vector<std::string> arguments = {wynfc,
                                              c.write ? "write" : "read",
                                              "--json",
                                              "--reader",
                                              c.reader,
                                              "--link-model",
                                              c.model,
                                              "--tag",
                                              (samples / (c.sample + ".json")).string()};
        if (c.coalesce) {
            arguments.emplace_back("--coalesce");
        }
        if (c.write) {
            arguments.insert(arguments.end(), {"--save", saved.string()});
            for (const std::string& change : changesFor(c.sample)) {
                arguments.insert(arguments.end(), {"--set", change});
            }
        }
        const ProcessRun median = medianRun(arguments, runs);
        // The application keeps its Bluetooth popups up a moment after each job; the command
        // line does not. Measured apart, not counted in a job's time.
        const double delayedEndingsMs =
            c.reader == "sim-ble"
                ? wynfc::bench::runChild(arguments, {"WYNFC_KEEP_DELAYED_ENDINGS=1"}).wallMs - median.wallMs
                : 0.0;
        const std::vector<JobFigures> jobs = linkLines(median.out);
        if (median.status != 0 || jobs.empty()) {
            std::cout << "| " << c.sample << " | " << c.reader << " | " << (c.write ? "write" : "read")
                      << " | failed (exit " << median.status << ") | | | | | | | | | |\n";
            ++failures;
            continue;
        }
        for (const JobFigures& job : jobs) {
            char row[400];
            std::snprintf(
                row, sizeof row,
                "| %s | %s | %s | %.1f | %.1f | %.3f | %ld | %.1f | %.1f | %.1f | %.0f | %.1f | %.1f |\n",
                c.sample.c_str(), (c.reader + (c.coalesce ? " --coalesce" : "")).c_str(), job.job.c_str(),
                job.takenMs, job.floorMs, job.floorMs > 0 ? job.takenMs / job.floorMs : 0.0, job.roundTrips,
                job.cpuMs, job.takenMs > 0 ? job.cpuMs / job.takenMs * 1000.0 : 0.0, median.wallMs,
                delayedEndingsMs, median.cpuMs, static_cast<double>(median.peakRssKiB) / 1024.0);
            std::cout << row;
        }
    }
    std::filesystem::remove(saved);
    failures += printStartUps(wynfc, samples);
    return failures == 0 ? 0 : 1;
}
