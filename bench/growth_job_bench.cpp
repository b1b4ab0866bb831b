// How a read of a driver grows with the memory areas its tag announces, and with the size of the
// address map: `wynfc read --reader sim-nfc --link-model nfc --json`, run as a process, on tag
// images made from the full-feature sample whose capability list announces one feature more at
// each step (map_generator.h); then the full read with maps of 1, 10 and 100 times the shipped
// map's areas (--map). For each: areas read, round trips, the job's time and its modelled link
// floor, the process's CPU time and peak memory; then least-squares slopes (ms per area).
//
// The read takes the areas of a fixed table of features (WyNfcApp/work/read_workflow.cpp), so a
// tag announces 20 areas at most whatever the map holds: copies of areas under other names are
// never read. The second table shows what a larger map costs a read of those 20.
//
//   wynfc_growth_job_bench PATH_TO_WYNFC [RUNS]
//
// Each case runs RUNS times (default 3); the tables show the median run by job time.

#include "child_process.h"
#include "linear_fit.h"
#include "map_generator.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

using nlohmann::json;
using wynfc::bench::ChildRun;
namespace fs = std::filesystem;

constexpr const char* kCapabilityArea = "nfc_data_addr_dc_capabilities_options";

// Announced one more at each step. All but the last two add one area; support_mb1 adds two, and
// support_warm_and_cold_white its own area and the second channel of six features before it.
const std::vector<std::string> kFeatures = {
    "support_aoc",
    "support_mb207",
    "support_corridor",
    "support_dali_addressing",
    "support_start_up_time",
    "support_clo",
    "support_dali_min_dim_level",
    "support_dc_emergency",
    "support_diagnostics_read",
    "support_lamp_on_time",
    "support_dali_setting",
    "support_mb1",
    "support_warm_and_cold_white",
};

json readJson(const fs::path& path) {
    std::ifstream file(path);
    return json::parse(file);
}

void writeJson(const fs::path& path, const json& value) {
    std::ofstream(path) << value.dump(1);
}

struct ReadFigures {
    bool completed = false;
    int areas = 0;
    long roundTrips = 0;
    double takenMs = 0;
    double floorMs = 0;
    ChildRun process;
};

// The figures of a `wynfc read --json` run: the memory areas pushed to the page (the
// identification and the product description are not areas the tag announces), the link line.
ReadFigures figuresOf(ChildRun run) {
    ReadFigures figures;
    std::size_t start = 0;
    while (start < run.out.size()) {
        std::size_t end = run.out.find('\n', start);
        end = end == std::string::npos ? run.out.size() : end;
        const json line = json::parse(run.out.substr(start, end - start), nullptr, false);
        start = end + 1;
        if (!line.is_object()) {
            continue;
        }
        if (line.value("event", "") == "UPDATE_EVENT") {
            const std::string payload = line.value("payload", "");
            figures.areas += payload.starts_with("identification:") || payload.starts_with("spec:") ? 0 : 1;
        } else if (line.contains("link")) {
            figures.roundTrips = line["link"]["roundTrips"];
            figures.takenMs = line["link"]["takenMs"];
            figures.floorMs = line["link"]["modelledMs"];
        }
    }
    figures.completed = run.status == 0 && figures.takenMs > 0;
    figures.process = std::move(run);
    return figures;
}

ReadFigures medianRead(const std::string& wynfc, const fs::path& tag, const fs::path& map, int runs) {
    std::vector<ReadFigures> done;
    for (int run = 0; run < runs; ++run) {
        done.push_back(
            figuresOf(wynfc::bench::runChild({wynfc, "read", "--json", "--reader", "sim-nfc", "--link-model",
                                              "nfc", "--tag", tag.string(), "--map", map.string()})));
        if (!done.back().completed) {
            return done.back();
        }
    }
    std::sort(done.begin(), done.end(),
              [](const ReadFigures& a, const ReadFigures& b) { return a.takenMs < b.takenMs; });
    return done[done.size() / 2];
}

// Rows of figures and, after the table, their slopes against `x`.
class Table {
public:
    Table(const char* label, std::string against) : mAgainst(std::move(against)) {
        std::printf(
            "| %s | Areas read | Round trips | Took (ms) | Link floor (ms) | Process wall (ms) | Process "
            "CPU (ms) | Peak RSS (MiB) |\n|---|---:|---:|---:|---:|---:|---:|---:|\n",
            label);
    }

    bool add(const std::string& label, double x, const ReadFigures& read) {
        if (!read.completed) {
            std::printf("| %s | failed (exit %d) | | | | | | |\n", label.c_str(), read.process.status);
            return false;
        }
        std::printf("| %s | %d | %ld | %.1f | %.1f | %.1f | %.1f | %.1f |\n", label.c_str(), read.areas,
                    read.roundTrips, read.takenMs, read.floorMs, read.process.wallMs, read.process.cpuMs,
                    static_cast<double>(read.process.peakRssKiB) / 1024.0);
        mX.push_back(x);
        mTaken.push_back(read.takenMs);
        mFloor.push_back(read.floorMs);
        mWall.push_back(read.process.wallMs);
        mCpu.push_back(read.process.cpuMs);
        mRoundTrips.push_back(static_cast<double>(read.roundTrips));
        return true;
    }

    void printSlopes(const char* per, double scale) const {
        std::printf("\nSlopes against %s (least squares; R² 1 is a straight line):\n", mAgainst.c_str());
        const auto line = [&](const char* name, const std::vector<double>& y, const char* unit) {
            const auto fit = wynfc::bench::fitLine(mX, y);
            std::printf("- %s: %.3f %s per %s (R² %.4f, at 0: %.1f)\n", name, fit.slope * scale, unit, per,
                        fit.rSquared, fit.intercept);
        };
        line("took", mTaken, "ms");
        line("link floor", mFloor, "ms");
        line("process wall", mWall, "ms");
        line("process CPU", mCpu, "ms");
        line("round trips", mRoundTrips, "");
        std::printf("\n");
    }

private:
    std::string mAgainst;
    std::vector<double> mX, mTaken, mFloor, mWall, mCpu, mRoundTrips;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: wynfc_growth_job_bench PATH_TO_WYNFC [RUNS]\n";
        return 2;
    }
    const std::string wynfc = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const fs::path resources = WYNFC_RESOURCES_DIR;
    const json map = readJson(resources / "address_map.json");
    const json sample = readJson(resources / "samples" / "full_feature.json");
    char folderTemplate[] = "/tmp/wynfc_growth_job_bench_XXXXXX";
    if (mkdtemp(folderTemplate) == nullptr) {
        std::perror("wynfc_growth_job_bench: temporary folder");
        return 1;
    }
    const fs::path folder = folderTemplate;
    const fs::path tag = folder / "tag.json";
    const fs::path mapFile = folder / "map.json";
    bool allCompleted = true;

    writeJson(mapFile, map);
    Table byAreas("Features announced", "the areas read");
    for (std::size_t count = 0; count <= kFeatures.size(); ++count) {
        const std::vector<std::string> announced(kFeatures.begin(),
                                                 kFeatures.begin() + static_cast<long>(count));
        writeJson(tag, wynfc::bench::tagAnnouncing(sample, map, kCapabilityArea, announced));
        const ReadFigures read = medianRead(wynfc, tag, mapFile, runs);
        allCompleted = byAreas.add(std::to_string(count), read.areas, read) && allCompleted;
    }
    byAreas.printSlopes("area read", 1);

    writeJson(tag, sample);
    Table byMap("Map areas", "the map's areas");
    for (const int factor : {1, 10, 100}) {
        const json scaled = wynfc::bench::scaledMap(map, factor);
        writeJson(mapFile, scaled);
        const auto areas = static_cast<double>(scaled["mapping"].size());
        const ReadFigures read = medianRead(wynfc, tag, mapFile, runs);
        allCompleted = byMap.add(std::to_string(static_cast<int>(areas)), areas, read) && allCompleted;
    }
    byMap.printSlopes("1000 map areas", 1000);

    fs::remove_all(folder);
    return allCompleted ? 0 : 1;
}
