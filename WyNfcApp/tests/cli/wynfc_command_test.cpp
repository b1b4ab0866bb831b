// The wynfc program as a user or a production-line script runs it: exit statuses, output
// streams, and what it does to a driver.

#include "wynfc_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using nlohmann::json;
using ::testing::HasSubstr;

const std::string kSamples = std::string(WYNFC_RESOURCES_DIR) + "/samples/";

using wynfc::cli_test::ProcessResult;
using wynfc::cli_test::readAll;

std::filesystem::path scratch(const std::string& name) {
    return wynfc::cli_test::scratchFile("wynfc_command_test", name);
}

// Runs wynfc with short timings; arguments are passed through the shell as given.
ProcessResult wynfc(const std::string& arguments, const std::string& environment = "") {
    return wynfc::cli_test::runWynfc("wynfc_command_test", arguments, environment);
}

class ReadCommandTest : public ::testing::TestWithParam<std::tuple<std::string, std::string>> {};

TEST_P(ReadCommandTest, StreamsEveryPageEventThenTheOutcome) {
    const auto& [reader, sample] = GetParam();
    const ProcessResult run =
        wynfc("read --json --reader " + reader + " --tag " + kSamples + sample + ".json");
    const auto lines = run.jsonLines();
    ASSERT_FALSE(lines.empty()) << run.err;
    const json& outcome = lines.back();
    if (sample == "unsupported") {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(outcome["status"], "Not Support this product");
        EXPECT_EQ(lines.size(), 1U); // no page event: the driver is not shown
        return;
    }
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(outcome["status"], "Read completed");
    EXPECT_TRUE(outcome["detail"].is_null());
    ASSERT_GE(lines.size(), 3U);
    EXPECT_EQ(lines[0]["event"], "UPDATE_EVENT");
    EXPECT_THAT(lines[0]["payload"].get<std::string>(), ::testing::StartsWith("identification:["));
    EXPECT_THAT(lines[1]["payload"].get<std::string>(), ::testing::StartsWith("spec:["));
    for (size_t i = 2; i + 1 < lines.size(); ++i) {
        const std::string payload = lines[i]["payload"];
        EXPECT_TRUE(json::parse(payload.substr(payload.find(':') + 1)).is_array()) << payload;
    }
}

INSTANTIATE_TEST_SUITE_P(SamplesAndReaders, ReadCommandTest,
                         ::testing::Combine(::testing::Values("sim-nfc", "sim-ble"),
                                            ::testing::Values("full_feature", "basic", "unsupported")));

TEST(WriteCommandTest, WrittenValuesReadBack) {
    const auto saved = scratch("written.json");
    const ProcessResult write = wynfc("write --reader sim-nfc --save " + saved.string() +
                                      " --set nfc_data_addr_dc_dali_setting.max_level=0xC8"
                                      " --set nfc_data_addr_dc_aoc.aoc_config.ledset_enable=0"
                                      " --set nfc_data_addr_dc_memory_bank_01.luminaire_gtin=4012345000009");
    ASSERT_EQ(write.status, 0) << write.out << write.err;
    EXPECT_THAT(write.out, HasSubstr("Verified: 3 value(s) in 3 area(s) read back as written."));

    const ProcessResult read =
        wynfc("decode --area nfc_data_addr_dc_dali_setting --tag " + saved.string() + " --json");
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_THAT(read.out, HasSubstr(R"({"dataType":"byte","name":"max_level","value":200})"));
    // The shipped sample itself is untouched.
    EXPECT_THAT(
        wynfc("decode --area nfc_data_addr_dc_dali_setting --json --tag " + kSamples + "full_feature.json")
            .out,
        ::testing::Not(HasSubstr(R"("name":"max_level","value":200)")));
}

// Each bit entry writes its whole item; the later one must carry the earlier one's change.
TEST(WriteCommandTest, TwoBitsOfOneItemBothArrive) {
    const auto saved = scratch("bits.json");
    const ProcessResult write = wynfc("write --reader sim-nfc --save " + saved.string() +
                                      " --set nfc_data_addr_dc_aoc.aoc_config.aoc_enable=0"
                                      " --set nfc_data_addr_dc_aoc.aoc_config.ledset_enable=1");
    ASSERT_EQ(write.status, 0) << write.out << write.err;
    const ProcessResult read =
        wynfc("decode --area nfc_data_addr_dc_aoc --tag " + saved.string() + " --json");
    EXPECT_THAT(read.out, HasSubstr(R"({"dataType":"byte","name":"aoc_config","value":2})"));
}

TEST(WriteCommandTest, ValuesFileOverBluetooth) {
    const auto values = scratch("values.json");
    std::ofstream(values) << R"([{"name": "nfc_data_addr_dc_corridor",
                                  "data": [{"propName": "presence_level", "value": 230},
                                           {"propName": "hold_time", "value": 300}]}])";
    const ProcessResult run = wynfc("write --json --values " + values.string());
    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = run.jsonLines();
    ASSERT_FALSE(lines.empty());
    const json outcome = lines.back();
    EXPECT_EQ(outcome["status"], "Write completed");
    EXPECT_EQ(outcome["verified"], true);
}

TEST(WriteCommandTest, EachIntegerTypeTakesItsWholeRange) {
    // Largest values first, then the smallest (an int also takes negatives, as two's complement).
    for (const std::string& values :
         {std::string(" --set nfc_data_addr_dc_dali_setting.max_level=255"
                      " --set nfc_data_addr_dc_corridor.hold_time=65535"
                      " --set nfc_data_addr_dc_dali_addressing.random_address=16777215"
                      " --set nfc_data_addr_dc_diagnostics_set.lamp_on_time=4294967295"),
          std::string(" --set nfc_data_addr_dc_dali_setting.max_level=0"
                      " --set nfc_data_addr_dc_corridor.hold_time=0"
                      " --set nfc_data_addr_dc_dali_addressing.random_address=0"
                      " --set nfc_data_addr_dc_diagnostics_set.lamp_on_time=-2147483648")}) {
        const ProcessResult run = wynfc("write --reader sim-nfc" + values);
        EXPECT_EQ(run.status, 0) << values << "\n" << run.out << run.err;
        EXPECT_THAT(run.out, HasSubstr("Verified: 4 value(s) in 4 area(s) read back as written.")) << values;
    }
}

TEST(WriteCommandTest, AWriteThatFailsAfterAGoodReadExitsOne) {
    // The image ends after the areas a read shows: the check block (255) cannot be written.
    json image = json::parse(readAll(kSamples + "full_feature.json"));
    wynfc::cli_test::cutShort(image);
    const auto cut = scratch("cut_short.json");
    std::ofstream(cut) << image.dump();

    for (const char* options : {"--reader sim-nfc", "--reader sim-ble", "--reader sim-nfc --no-verify",
                                "--reader sim-ble --no-verify"}) {
        const ProcessResult run = wynfc(std::string("write ") + options + " --tag " + cut.string() +
                                        " --set nfc_data_addr_dc_dali_setting.max_level=200");
        EXPECT_EQ(run.status, 1) << options << "\n" << run.out << run.err;
        EXPECT_THAT(run.out, HasSubstr("Status: Write failed")) << options;
    }
}

TEST(WriteCommandTest, UnsupportedDriverIsNotWritten) {
    const auto saved = scratch("unsupported.json");
    std::filesystem::remove(saved);
    const ProcessResult run = wynfc("write --tag " + kSamples + "unsupported.json --save " + saved.string() +
                                    " --set nfc_data_addr_dc_dali_setting.max_level=3");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("nothing was written"));
    EXPECT_FALSE(std::filesystem::exists(saved));
}

// An area the driver does not announce is one the read did not show: the page would never
// write it, and on this driver its blocks may hold something else.
TEST(WriteCommandTest, AnAreaTheDriverDoesNotAnnounceIsRefusedUnwritten) {
    const auto saved = scratch("basic.json");
    std::filesystem::remove(saved);
    const ProcessResult run = wynfc("write --tag " + kSamples + "basic.json --save " + saved.string() +
                                    " --set nfc_data_addr_dc_corridor.presence_level=230");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("does not announce nfc_data_addr_dc_corridor; nothing was written"));
    EXPECT_FALSE(std::filesystem::exists(saved));

    // A profile from another driver: the areas this one has are written, the others named.
    const auto profile = scratch("profile.json");
    std::ofstream(profile)
        << R"([{"name": "nfc_data_addr_dc_corridor", "data": [{"propName": "presence_level", "value": 230}]},
                                 {"name": "nfc_data_addr_dc_aoc", "data": [{"propName": "output_current", "value": 650}]}])";
    const ProcessResult partly = wynfc("write --tag " + kSamples + "basic.json --save " + saved.string() +
                                       " --values " + profile.string());
    EXPECT_EQ(partly.status, 0) << partly.out;
    EXPECT_THAT(partly.out,
                HasSubstr("Skipped: the driver does not announce nfc_data_addr_dc_corridor; the other"));
    EXPECT_THAT(partly.out, HasSubstr("Verified: 1 value(s) in 1 area(s)"));
    EXPECT_TRUE(std::filesystem::exists(saved));
}

// The command line goes on as soon as a job has ended, where the application keeps its popups
// up for a moment: the events, the outcome and the driver are the same either way.
TEST(WriteCommandTest, SkippingTheDelayedEndingsChangesNothingButTime) {
    for (const std::string reader : {"sim-ble", "sim-nfc"}) {
        std::string outputs[2];
        std::string tags[2];
        for (const int keep : {0, 1}) {
            const auto tag = scratch("skipped_" + reader + std::to_string(keep) + ".json");
            const ProcessResult result =
                wynfc("write --reader " + reader + " --json --save '" + tag.string() +
                          "' --set nfc_data_addr_dc_dali_setting.max_level=230",
                      keep == 1 ? "WYNFC_KEEP_DELAYED_ENDINGS=1 " : "");
            ASSERT_EQ(result.status, 0) << reader << keep << result.err;
            outputs[keep] = result.out;
            tags[keep] = readAll(tag);
        }
        EXPECT_EQ(outputs[0], outputs[1]) << reader;
        EXPECT_EQ(tags[0], tags[1]) << reader;
        EXPECT_THAT(outputs[0], HasSubstr("\"verified\":true")) << reader;
    }
}

TEST(LinkModelTest, AModelledLinkSlowsTheJobAndChangesNothingElse) {
    for (const auto& [reader, model] : {std::pair{"sim-ble", "ble"}, std::pair{"sim-nfc", "nfc"}}) {
        const std::string read = std::string("read --json --reader ") + reader;
        const ProcessResult plain = wynfc(read);
        const ProcessResult modelled = wynfc(read + " --link-model " + model);
        ASSERT_EQ(modelled.status, 0) << modelled.err;
        std::vector<json> lines = modelled.jsonLines();
        ASSERT_GE(lines.size(), 2U);
        // The link's line comes just before the outcome; the rest is as without a model.
        const json link = lines[lines.size() - 2]["link"];
        lines.erase(lines.end() - 2);
        EXPECT_EQ(lines, plain.jsonLines()) << reader;
        EXPECT_EQ(link["model"], model);
        EXPECT_EQ(link["job"], "read");
        EXPECT_GT(link["roundTrips"].get<int>(), 10) << "every area of the sample is a round trip at least";
        EXPECT_GT(link["modelledMs"].get<double>(), 0.0);
        EXPECT_GE(link["takenMs"].get<double>(), link["modelledMs"].get<double>())
            << "no answer before its time";
        // The CPU the process used meanwhile; how it compares with the wait is the benchmark's
        // to say: here the links are shortened, and a sanitizer multiplies the work.
        EXPECT_GT(link["cpuMs"].get<double>(), 0.0);
    }
}

// Reading neighbouring areas together changes the round trips, nothing a user sees: the same
// events and payloads, the same outcome, the same driver afterwards.
TEST(LinkModelTest, CoalescedBluetoothJobsGiveTheSameEventsInFewerRoundTrips) {
    const auto withoutLinkLines = [](std::vector<json> lines) {
        std::erase_if(lines, [](const json& line) { return line.contains("link"); });
        return lines;
    };
    const auto roundTrips = [](const std::vector<json>& lines) {
        long total = 0;
        for (const json& line : lines) {
            if (line.contains("link")) {
                total += line["link"]["roundTrips"].get<long>();
            }
        }
        return total;
    };
    for (const std::string sample : {"full_feature", "basic"}) {
        for (const std::string& job :
             {std::string("read"), std::string("write --set nfc_data_addr_dc_dali_setting.max_level=230")}) {
            SCOPED_TRACE(sample + ": " + job);
            std::vector<json> lines[2];
            std::string tags[2];
            for (const int coalesce : {0, 1}) {
                const auto tag = scratch("coalesced_" + sample + std::to_string(coalesce) + ".json");
                const bool writes = job != "read";
                const ProcessResult run = wynfc(
                    job + " --json --reader sim-ble --link-model ble --tag " + kSamples + sample + ".json" +
                    (writes ? " --save '" + tag.string() + "'" : "") + (coalesce == 1 ? " --coalesce" : ""));
                ASSERT_EQ(run.status, 0) << run.out << run.err;
                lines[coalesce] = run.jsonLines();
                tags[coalesce] = writes ? readAll(tag) : "";
            }
            EXPECT_EQ(withoutLinkLines(lines[1]), withoutLinkLines(lines[0]));
            EXPECT_EQ(tags[1], tags[0]);
            EXPECT_LT(roundTrips(lines[1]), roundTrips(lines[0]));
        }
    }
}

TEST(CommandLineTest, BadInputIsRefusedWithOneClearLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"write --set nfc_data_addr_dc_dali_setting.max_level", "expected AREA.ITEM[.BIT]=VALUE"},
        // One past each end of each integer type.
        {"write --set nfc_data_addr_dc_dali_setting.max_level=256", "outside 0 to 255"},
        {"write --set nfc_data_addr_dc_dali_setting.max_level=-1", "outside 0 to 255"},
        {"write --set nfc_data_addr_dc_corridor.hold_time=65536", "outside 0 to 65535"},
        {"write --set nfc_data_addr_dc_dali_addressing.random_address=16777216", "outside 0 to 16777215"},
        {"write --set nfc_data_addr_dc_diagnostics_set.lamp_on_time=4294967296",
         "outside -2147483648 to 4294967295"},
        {"write --set nfc_data_addr_dc_diagnostics_set.lamp_on_time=-2147483649",
         "outside -2147483648 to 4294967295"},
        {"write --set nfc_data_addr_dc_dali_setting.nothing=3", "has no item \"nothing\""},
        {"write --set nfc_data_addr_dc_aoc.aoc_config.aoc_enable=2", "a bit is 0 or 1"},
        // 2^32 + 1 and 2^32 are no 1 and 0 (found by fuzz_cli_options).
        {"write --set nfc_data_addr_dc_aoc.aoc_config.aoc_enable=4294967297", "a bit is 0 or 1"},
        {"write --set nfc_data_addr_dc_aoc.aoc_config.aoc_enable=0x100000000", "a bit is 0 or 1"},
        {"read --tag /missing/tag.json", "/missing/tag.json"},
        {"write --values /missing/values.json", "cannot read the values file /missing/values.json"},
        {"read --map /missing/map.json", "cannot read the address map"},
        {"read --products " + std::string(WYNFC_RESOURCES_DIR) + "/address_map.json",
         "is not valid: \"name\" is missing"},
        {"decode --area nfc_data_addr_dc_aoc --hex 0G", "is not hexadecimal bytes"},
        {"read --reader usb", "unknown reader"},
        {"frobnicate", "unknown command"},
        {"write", "either --values FILE or"},
        {"read --link-model radio", "unknown link model \"radio\""},
        {"read --link-model nfc", "goes with --reader sim-nfc"},
        {"read --reader sim-nfc --coalesce", "--coalesce is for a Bluetooth reader"},
        {"read --reader sim-nfc --link-model ble", "goes with --reader sim-ble"},
    };
    for (const auto& [arguments, message] : cases) {
        const ProcessResult run = wynfc(arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_THAT(run.err, HasSubstr(message)) << arguments;
        EXPECT_TRUE(run.out.empty()) << arguments;
    }
}

TEST(CommandLineTest, AreasVersionAndDecode) {
    const ProcessResult areas = wynfc("areas --json");
    ASSERT_EQ(areas.status, 0);
    const json list = json::parse(areas.out);
    ASSERT_EQ(list.size(), 29U);
    EXPECT_EQ(list[0]["name"], "nfc_data_addr_dc_product_identification");

    const ProcessResult version = wynfc("version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "CORE_1.1.0-1.0.0\n");

    // The program's own version, which the page's text ends with; asked anywhere, like --help.
    for (const std::string arguments : {"--version", "read --version", "write --set x=1 --version"}) {
        const ProcessResult own = wynfc(arguments);
        EXPECT_EQ(own.status, 0) << arguments << own.err;
        EXPECT_TRUE(std::regex_match(own.out, std::regex(R"(wynfc \d+\.\d+\.\d+\n)"))) << arguments;
        EXPECT_EQ(version.out.substr(version.out.rfind('-') + 1), own.out.substr(own.out.find(' ') + 1));
    }
    EXPECT_THAT(wynfc("--help").out, HasSubstr("--version"));

    const ProcessResult decode = wynfc("decode --area nfc_data_addr_dc_aoc --hex '01 FF 03 6B'");
    EXPECT_EQ(decode.status, 0);
    EXPECT_THAT(decode.out, HasSubstr("output_current"));
    EXPECT_THAT(decode.out, HasSubstr("875"));
}

} // namespace
