// What a read and a write of a driver cost in the library: decoding each area, merging
// changed values, framing commands with their CRC.

#include "wy_nfc_api.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

using namespace wy_nfc_mapping;

constexpr const char* kArea = "nfc_data_addr_dc_memory_bank_01";

WyNfcAPI& loadedApi() {
    static WyNfcAPI& api = []() -> WyNfcAPI& {
        std::ifstream file(std::string(WYNFC_RESOURCES_DIR) + "/address_map.json");
        std::stringstream text;
        text << file.rdbuf();
        // The map's warnings go to standard output, which carries the results: keep them out.
        std::fflush(stdout);
        const int saved = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        WyNfcAPI::getInstance()->loadAddressMapFile(text.str());
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(null);
        close(saved);
        return *WyNfcAPI::getInstance();
    }();
    return api;
}

void decodeArea(benchmark::State& state) {
    WyNfcAPI& api = loadedApi();
    const Bytes data(60, 0x5A);
    for (auto _ : state) {
        benchmark::DoNotOptimize(api.getJsonValuesFromDataByName(kArea, data));
    }
}
BENCHMARK(decodeArea);

void mergeValues(benchmark::State& state) {
    WyNfcAPI& api = loadedApi();
    const std::string json = R"([{"propName":"luminaire_gtin","value":0,"arrayValue":"4012345000009"},)"
                             R"({"propName":"colour_temperature","value":3000}])";
    for (auto _ : state) {
        Bytes data(60, 0x5A);
        benchmark::DoNotOptimize(api.updateValuesFromOldDataByName(kArea, json, data, true, true));
    }
}
BENCHMARK(mergeValues);

void frameCommand(benchmark::State& state) {
    WyNfcAPI& api = loadedApi();
    const Bytes command(state.range(0), 0xA5);
    Bytes frame;
    for (auto _ : state) {
        api.getBLECmd(command, frame);
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(frameCommand)->Arg(10)->Arg(512);

} // namespace
