// How the library's costs grow with the address map: the shipped map, and maps with 10 and 100
// times its areas (copies of its own areas, map_generator.h). For each size: loading the map;
// decoding every area from bytes (the full-feature sample's); merging a value for every item
// into every area, a whole area at a time; decoding one area (the last one the read job takes),
// which should not depend on the map's size at all; and the library's lookup of that area by
// name alone. Google Benchmark times each (median of 3 repetitions, with its O(N) fit); each
// counts the heap it allocates per pass and its peak heap. The Markdown table gives the CPU
// time, the cost per area, the growth exponent between sizes (1: linear, 2: quadratic) and a
// least-squares slope.
//
//   wynfc_growth_bench [GOOGLE BENCHMARK OPTIONS]
//
// Google Benchmark's own report goes to standard error, the table to standard output.

#include "heap_counter.h"
#include "linear_fit.h"
#include "map_generator.h"
#include "nfc_data.h"
#include "wy_nfc_api.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <map>
#include <unistd.h>

namespace {

using namespace wy_nfc_mapping;
using nlohmann::json;
using wynfc::bench::heapFigures;

// The last area a read of a driver takes; the original, behind all the copies.
constexpr const char* kOneArea = "nfc_data_addr_dc_start_up_time";

json readJson(const std::string& path) {
    std::ifstream file(path);
    return json::parse(file);
}

const json& shippedMap() {
    static const json map = readJson(std::string(WYNFC_RESOURCES_DIR) + "/address_map.json");
    return map;
}

// One map size: its text, and for every area the bytes it decodes from and the values merged.
struct Sized {
    std::string text;
    std::vector<std::string> names;
    std::vector<Bytes> bytes;
    std::vector<std::string> values;
};

Sized& sized(int factor) {
    static std::map<int, Sized> made;
    auto [entry, isNew] = made.try_emplace(factor);
    if (!isNew) {
        return entry->second;
    }
    const json map = wynfc::bench::scaledMap(shippedMap(), factor);
    const int span = wynfc::bench::mapSpan(shippedMap());
    const Bytes memory =
        wynfc::bench::tagMemory(readJson(std::string(WYNFC_RESOURCES_DIR) + "/samples/full_feature.json"));
    Sized& s = entry->second;
    s.text = map.dump(1);
    for (const json& area : map["mapping"]) {
        s.names.push_back(area["name"]);
        // A copy holds what its original holds on the sample's tag.
        const int start = std::stoi(area["startAddress"].get<std::string>(), nullptr, 16) % span;
        const auto first = memory.begin() + start;
        s.bytes.emplace_back(first, first + area["byteCount"].get<int>());
    }
    return s;
}

// The library instance with the map of that size loaded (a fresh instance for each size).
WyNfcAPI& apiWith(int factor) {
    static int loaded = 0;
    if (loaded != factor) {
        WyNfcAPI::getInstance()->destroy();
        if (WyNfcAPI::getInstance()->loadAddressMapFile(sized(factor).text) != 0) {
            std::cerr << "the generated map of " << factor << " times the areas does not load\n";
            std::exit(1);
        }
        loaded = factor;
    }
    return *WyNfcAPI::getInstance();
}

// Every item's decoded value as the merge takes it: whole values only, the bits being in them.
std::string mergeValuesOf(const std::string& decoded) {
    json values = json::array();
    for (const json& value : json::parse(decoded)) {
        if (value["dataType"] == "binary") {
            continue;
        }
        json entry = {{"propName", value["name"]}, {"value", value["value"]}};
        if (value.contains("arrayValue")) {
            entry["arrayValue"] = value["arrayValue"];
        }
        values.push_back(std::move(entry));
    }
    return values.dump();
}

// Heap figures of the benchmark's loop, as counters: bytes allocated per pass and peak bytes.
class HeapWatch {
public:
    HeapWatch() : mStart(heapFigures()) { wynfc::bench::resetHeapPeak(); }

    void report(benchmark::State& state) const {
        const auto end = heapFigures();
        state.counters["heap_per_pass"] =
            static_cast<double>(end.allocated - mStart.allocated) / static_cast<double>(state.iterations());
        state.counters["peak_heap"] = static_cast<double>(end.peak - mStart.live);
    }

private:
    wynfc::bench::HeapFigures mStart;
};

void perArea(benchmark::State& state, std::size_t areas) {
    state.SetComplexityN(static_cast<int64_t>(areas));
    state.counters["areas"] = static_cast<double>(areas);
}

void loadMap(benchmark::State& state) {
    const Sized& s = sized(static_cast<int>(state.range(0)));
    const HeapWatch watch;
    for (auto _ : state) {
        NfcData data;
        benchmark::DoNotOptimize(data.loadAddressMap(s.text));
    }
    watch.report(state);
    perArea(state, s.names.size());
}

void decodeEveryArea(benchmark::State& state) {
    const int factor = static_cast<int>(state.range(0));
    const Sized& s = sized(factor);
    WyNfcAPI& api = apiWith(factor);
    const HeapWatch watch;
    for (auto _ : state) {
        for (std::size_t i = 0; i < s.names.size(); ++i) {
            benchmark::DoNotOptimize(api.getJsonValuesFromDataByName(s.names[i], s.bytes[i]));
        }
    }
    watch.report(state);
    perArea(state, s.names.size());
}

void mergeEveryArea(benchmark::State& state) {
    const int factor = static_cast<int>(state.range(0));
    Sized& s = sized(factor);
    WyNfcAPI& api = apiWith(factor);
    if (s.values.empty()) {
        for (std::size_t i = 0; i < s.names.size(); ++i) {
            s.values.push_back(mergeValuesOf(*api.getJsonValuesFromDataByName(s.names[i], s.bytes[i])));
            Bytes merged = s.bytes[i];
            if (api.updateValuesFromOldDataByName(s.names[i], s.values[i], merged, true, true) != 0) {
                state.SkipWithError(("the values of " + s.names[i] + " do not merge").c_str());
                return;
            }
        }
    }
    const HeapWatch watch;
    for (auto _ : state) {
        for (std::size_t i = 0; i < s.names.size(); ++i) {
            Bytes merged = s.bytes[i];
            benchmark::DoNotOptimize(
                api.updateValuesFromOldDataByName(s.names[i], s.values[i], merged, true, true));
        }
    }
    watch.report(state);
    perArea(state, s.names.size());
}

void decodeOneArea(benchmark::State& state) {
    const int factor = static_cast<int>(state.range(0));
    const Sized& s = sized(factor);
    WyNfcAPI& api = apiWith(factor);
    const auto index =
        static_cast<std::size_t>(std::find(s.names.begin(), s.names.end(), kOneArea) - s.names.begin());
    if (index == s.names.size()) {
        state.SkipWithError("the map has no area kOneArea names");
        return;
    }
    const HeapWatch watch;
    for (auto _ : state) {
        benchmark::DoNotOptimize(api.getJsonValuesFromDataByName(s.names[index], s.bytes[index]));
    }
    watch.report(state);
    perArea(state, s.names.size());
}

// The library's lookup of an area by name alone, for that same area.
void findArea(benchmark::State& state) {
    const Sized& s = sized(static_cast<int>(state.range(0)));
    NfcData data;
    data.loadAddressMap(s.text);
    const std::string name = kOneArea;
    const HeapWatch watch;
    for (auto _ : state) {
        benchmark::DoNotOptimize(data.getAddressMapObjByName(name));
    }
    watch.report(state);
    perArea(state, s.names.size());
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond)->Repetitions(3)->ReportAggregatesOnly(true);
}
BENCHMARK(loadMap)->Apply(sizes)->Complexity(benchmark::oN);
BENCHMARK(decodeEveryArea)->Apply(sizes)->Complexity(benchmark::oN);
BENCHMARK(mergeEveryArea)->Apply(sizes)->Complexity(benchmark::oN);
BENCHMARK(decodeOneArea)->Apply(sizes)->Complexity(benchmark::o1);
BENCHMARK(findArea)->Apply(sizes)->Complexity(benchmark::oN);

// Google Benchmark's report as usual, and the median of every size kept for the table.
class TableReporter : public benchmark::ConsoleReporter {
public:
    struct Row {
        double areas;
        double micros;
        double heapPerPass;
        double peakHeap;
    };

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" && !run.error_occurred) {
                mRows[run.run_name.function_name].push_back(
                    {run.counters.at("areas"), run.GetAdjustedCPUTime(), run.counters.at("heap_per_pass"),
                     run.counters.at("peak_heap")});
            }
        }
    }

    void printTable(std::FILE* out) const {
        std::fprintf(
            out, "| Measure | Areas | CPU time (µs) | Time per area (µs) | Heap per pass (KiB) | Peak heap "
                 "(KiB) | Growth exponent |\n|---|---:|---:|---:|---:|---:|---:|\n");
        std::string slopes;
        for (const char* name :
             {"loadMap", "decodeEveryArea", "mergeEveryArea", "decodeOneArea", "findArea"}) {
            const auto found = mRows.find(name);
            if (found == mRows.end()) {
                continue;
            }
            std::vector<double> x, y;
            for (std::size_t i = 0; i < found->second.size(); ++i) {
                const Row& row = found->second[i];
                char exponent[32] = "";
                if (i > 0) {
                    const Row& before = found->second[i - 1];
                    std::snprintf(
                        exponent, sizeof exponent, "%.2f",
                        wynfc::bench::growthExponent(before.areas, before.micros, row.areas, row.micros));
                }
                std::fprintf(out, "| %s | %.0f | %.3f | %.4f | %.1f | %.1f | %s |\n", name, row.areas,
                             row.micros, row.micros / row.areas, row.heapPerPass / 1024, row.peakHeap / 1024,
                             exponent);
                x.push_back(row.areas);
                y.push_back(row.micros);
            }
            const auto fit = wynfc::bench::fitLine(x, y);
            slopes += std::string("- ") + name + ": " + std::to_string(fit.slope) + " µs per area, R² " +
                      std::to_string(fit.rSquared) + "\n";
        }
        std::fprintf(out, "\nLeast-squares slopes (time against areas):\n%s", slopes.c_str());
    }

private:
    std::map<std::string, std::vector<Row>> mRows;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    // The library writes its warnings on standard output: the table goes to a copy of it, and
    // standard output itself to /dev/null while the benchmarks run.
    std::fflush(stdout);
    std::FILE* table = fdopen(dup(STDOUT_FILENO), "w");
    const int null = open("/dev/null", O_WRONLY);
    if (table == nullptr || null < 0 || dup2(null, STDOUT_FILENO) < 0) {
        std::perror("wynfc_growth_bench: standard output");
        return 1;
    }
    close(null);

    TableReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.printTable(table);
    std::fclose(table);
    return 0;
}
