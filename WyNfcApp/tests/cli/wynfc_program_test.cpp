// wynfc program as a production line runs it: driver after driver on the simulated readers,
// each one's record, the drivers as they are afterwards, and a run stopped by Ctrl-C.

#include "wynfc_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using nlohmann::json;
using ::testing::HasSubstr;

const std::string kSamples = std::string(WYNFC_RESOURCES_DIR) + "/samples/";
const std::string kShortAddress = "nfc_data_addr_dc_dali_addressing.short_address";

using wynfc::cli_test::ProcessResult;
using wynfc::cli_test::readAll;

std::filesystem::path scratch(const std::string& name) {
    return wynfc::cli_test::scratchFile("wynfc_program_test", name);
}

std::vector<json> jsonLines(const std::string& text) {
    return ProcessResult{0, text, ""}.jsonLines();
}

ProcessResult wynfc(const std::string& arguments) {
    return wynfc::cli_test::runWynfc("wynfc_program_test", arguments);
}

// A driver made from a shipped sample: its own UID (first byte `serial`); cut short, it has no
// check block, so its write fails after the areas.
std::string makeDriver(const std::string& name, const std::string& sample, int serial,
                       bool cutShort = false) {
    json image = json::parse(readAll(kSamples + sample + ".json"));
    std::string uid = image["uid"];
    char first[3];
    std::snprintf(first, sizeof first, "%02X", serial);
    uid.replace(0, 2, first);
    image["uid"] = uid;
    if (cutShort) {
        wynfc::cli_test::cutShort(image);
    }
    const auto path = scratch(name + ".json");
    std::ofstream(path) << image.dump();
    return path.string();
}

std::string profile() {
    const auto path = scratch("profile.json");
    std::ofstream(path) << R"([{"name": "nfc_data_addr_dc_corridor",
                               "data": [{"propName": "presence_level", "value": 230}]}])";
    return path.string();
}

// The decoded value of an item in a tag image, as wynfc decode shows it.
json decodedValue(const std::filesystem::path& image, const std::string& area, const std::string& item) {
    const ProcessResult decoded = wynfc("decode --json --area " + area + " --tag '" + image.string() + "'");
    for (const json& value : json::parse(decoded.out)) {
        if (value.value("name", "") == item) {
            return value["value"];
        }
    }
    return nullptr;
}

class ProgramTest : public ::testing::TestWithParam<std::string> {};

// Five drivers: two of the product, one of another (refused, not written), one whose check
// block cannot be written (failed, the run goes on), one more of the product.
TEST_P(ProgramTest, FiveDriversEachRecordedAsItWent) {
    const std::string& reader = GetParam();
    const std::string a = makeDriver("a", "full_feature", 0x11);
    const std::string b = makeDriver("b", "full_feature", 0x22);
    const std::string other = makeDriver("other", "basic", 0x33);
    const std::string cut = makeDriver("cut", "full_feature", 0x44, true);
    const std::string e = makeDriver("e", "full_feature", 0x55);
    const auto report = scratch("report-" + reader + ".jsonl");
    const auto saved = scratch("saved-" + reader);
    std::filesystem::remove(report);
    std::filesystem::remove_all(saved);

    const ProcessResult run =
        wynfc("program --reader " + reader + " --values " + profile() + " --tags " + a + "," + b + "," +
              other + "," + cut + "," + e + " --increment " + kShortAddress + "=10 --report " +
              report.string() + " --save-dir " + saved.string());
    EXPECT_EQ(run.status, 1) << run.out << run.err; // one refused, one failed
    EXPECT_THAT(run.out, HasSubstr("Summary: 5 driver(s): 3 programmed, 1 refused, 1 failed, 0 interrupted"));
    EXPECT_THAT(run.out, HasSubstr("Ended: no more simulated drivers"));

    const std::vector<json> lines = jsonLines(readAll(report));
    ASSERT_EQ(lines.size(), 5U) << run.out;
    const std::vector<std::string> results = {"programmed", "programmed", "refused", "failed", "programmed"};
    const std::vector<std::string> files = {"a", "b", "other", "cut", "e"};
    std::vector<std::uint64_t> increments;
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(files[i]);
        const json& line = lines[i];
        EXPECT_EQ(line["result"], results[i]);
        EXPECT_EQ(line["driver"], i + 1);
        const std::string uid = json::parse(readAll(scratch(files[i] + ".json")))["uid"].get<std::string>();
        EXPECT_EQ(line["uid"], uid);
        EXPECT_THAT(line["time"].get<std::string>(),
                    ::testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}T.*Z"));
        const auto image = saved / (files[i] + ".json");
        if (results[i] == "programmed") {
            EXPECT_EQ(line["verify"], "verified");
            EXPECT_EQ(line["deviceType"], 18);
            increments.push_back(line["increment"]["value"].get<std::uint64_t>());
            // What was reported is what the driver holds.
            EXPECT_EQ(decodedValue(image, "nfc_data_addr_dc_dali_addressing", "short_address"),
                      line["increment"]["value"]);
            EXPECT_EQ(decodedValue(image, "nfc_data_addr_dc_corridor", "presence_level"), 230);
        }
    }
    // Consecutive values; refused and failed drivers took none.
    EXPECT_EQ(increments, (std::vector<std::uint64_t>{10, 11, 12}));
    EXPECT_EQ(lines[2]["deviceType"], 17);
    EXPECT_TRUE(lines[2]["values"].empty());
    EXPECT_EQ(lines[2]["verify"], "not done");
    // The refused driver is untouched.
    EXPECT_EQ(json::parse(readAll(saved / "other.json")), json::parse(readAll(other)));
}

// A driver left on the reader, and one laid on it again later, is programmed once.
TEST_P(ProgramTest, ADriverMetAgainIsNotProgrammedAgain) {
    const std::string& reader = GetParam();
    const std::string a = makeDriver("stays", "full_feature", 0x61);
    const std::string b = makeDriver("next", "full_feature", 0x62);
    const auto report = scratch("again-" + reader + ".jsonl");
    std::filesystem::remove(report);
    const ProcessResult run =
        wynfc("program --reader " + reader + " --values " + profile() + " --tags " + a + "," + a + "," + a +
              "," + b + "," + a + " --increment " + kShortAddress + " --report " + report.string());
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const std::vector<json> lines = jsonLines(readAll(report));
    ASSERT_EQ(lines.size(), 2U) << run.out;
    EXPECT_EQ(lines[0]["result"], "programmed");
    EXPECT_EQ(lines[1]["result"], "programmed");
    EXPECT_NE(lines[0]["uid"], lines[1]["uid"]);
    // Asked once while it stayed, once when it came back.
    std::istringstream out(run.out);
    int asked = 0;
    for (std::string line; std::getline(out, line);) {
        asked += line.find("already handled in this run: take it off the reader") != std::string::npos;
    }
    EXPECT_EQ(asked, 2) << run.out;
    // The profile gives no short address: counting starts at the item's minimum.
    EXPECT_EQ(lines[0]["increment"]["value"], 0);
    EXPECT_EQ(lines[1]["increment"]["value"], 1);
}

// A driver that failed is not tried again while it stays on the reader, but is once it has
// been taken away and laid on again.
TEST_P(ProgramTest, AFailedDriverIsTriedAgainOnlyOnceLaidOnAgain) {
    const std::string& reader = GetParam();
    const std::string failing = makeDriver("fails", "full_feature", 0x64, true);
    const std::string good = makeDriver("good", "full_feature", 0x65);
    const auto report = scratch("retry-" + reader + ".jsonl");
    std::filesystem::remove(report);
    const ProcessResult run =
        wynfc("program --reader " + reader + " --values " + profile() + " --tags " + failing + "," + failing +
              "," + good + "," + failing + " --report " + report.string());
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    const std::vector<json> lines = jsonLines(readAll(report));
    ASSERT_EQ(lines.size(), 3U) << run.out;
    EXPECT_EQ(lines[0]["result"], "failed");
    EXPECT_EQ(lines[1]["result"], "programmed");
    EXPECT_EQ(lines[2]["result"], "failed");
    EXPECT_EQ(lines[0]["uid"], lines[2]["uid"]);
    EXPECT_NE(run.out.find("is still on the reader: take it off, and lay it on again"), std::string::npos)
        << run.out;
}

// Ctrl-C while a driver is under way: that driver is reported, the summary printed, and a
// driver reported as not written was not written.
TEST_P(ProgramTest, CtrlCMidDriverReportsItInterrupted) {
    const std::string& reader = GetParam();
    const std::string a = makeDriver("interrupted", "full_feature", 0x71);
    const auto saved = scratch("interrupted-" + reader);
    const auto report = scratch("interrupted-" + reader + ".jsonl");
    std::filesystem::remove(report);
    std::filesystem::remove_all(saved);
    // The modelled links make the jobs take as long as real ones: the signal comes mid-driver.
    const std::vector<std::string> arguments = {
        WYNFC_CLI,      "program",
        "--reader",     reader,
        "--link-model", reader == "sim-nfc" ? "nfc" : "ble",
        "--values",     profile(),
        "--tags",       a + "," + makeDriver("never", "full_feature", 0x72),
        "--report",     report.string(),
        "--save-dir",   saved.string()};
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    setenv("WYNFC_TIME_SCALE", "0.05", 1);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(quiet, STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(quiet);
    close(out[1]);
    // Ends the program, should the test stop early.
    struct Reaper {
        pid_t pid;
        int status = -1;
        bool reaped = false;
        int wait() {
            waitpid(pid, &status, 0);
            reaped = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        ~Reaper() {
            if (!reaped) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
    } process{pid};

    std::string output;
    char buffer[512];
    bool signalled = false;
    while (true) {
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        output.append(buffer, static_cast<size_t>(got));
        if (!signalled && output.find("Driver 1: started\n") != std::string::npos) {
            kill(pid, SIGINT);
            signalled = true;
        }
    }
    close(out[0]);
    const int status = process.wait();
    ASSERT_TRUE(signalled) << output;
    EXPECT_EQ(status, 1) << output;
    EXPECT_THAT(output, HasSubstr("interrupted"));
    EXPECT_THAT(output, HasSubstr("Summary: 1 driver(s): 0 programmed, 0 refused, 0 failed, 1 interrupted"));
    EXPECT_THAT(output, HasSubstr("Ended: stopped by Ctrl-C (SIGINT)"));
    const std::vector<json> lines = jsonLines(readAll(report));
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0]["result"], "interrupted");
    EXPECT_EQ(lines[0]["verify"], "not done");
    const std::string message = lines[0]["message"];
    if (message.find("nothing was written") != std::string::npos) {
        EXPECT_EQ(json::parse(readAll(saved / "interrupted.json")), json::parse(readAll(a)));
        EXPECT_TRUE(lines[0]["values"].empty());
    } else {
        EXPECT_THAT(message, HasSubstr("written, not read back"));
        EXPECT_EQ(decodedValue(saved / "interrupted.json", "nfc_data_addr_dc_corridor", "presence_level"),
                  230);
    }
    // The next driver was never laid on the reader.
    EXPECT_EQ(json::parse(readAll(saved / "never.json")), json::parse(readAll(scratch("never.json"))));
}

INSTANTIATE_TEST_SUITE_P(SimulatedReaders, ProgramTest, ::testing::Values("sim-nfc", "sim-ble"));

TEST(ProgramCountTest, StopsAfterCountDriversWithOneJsonLineEach) {
    const ProcessResult run =
        wynfc("program --json --count 2 --reader sim-ble --values " + profile() + " --tags " +
              makeDriver("c1", "full_feature", 0xA1) + "," + makeDriver("c2", "full_feature", 0xA2) + "," +
              makeDriver("c3", "full_feature", 0xA3));
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const std::vector<json> lines = jsonLines(run.out);
    std::vector<std::string> results;
    for (const json& line : lines) {
        if (line.contains("result")) {
            results.push_back(line["result"]);
        }
    }
    EXPECT_EQ(results, (std::vector<std::string>{"programmed", "programmed"})) << run.out;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()["summary"]["programmed"], 2);
    EXPECT_THAT(lines.back()["summary"]["ending"].get<std::string>(), HasSubstr("--count"));
}

TEST(ProgramIncrementTest, StopsWhenTheRangeIsUsedUpAndNeverWraps) {
    const auto report = scratch("range.jsonl");
    std::filesystem::remove(report);
    const ProcessResult run =
        wynfc("program --reader sim-nfc --values " + profile() + " --tags " +
              makeDriver("r1", "full_feature", 0x81) + "," + makeDriver("r2", "full_feature", 0x82) + "," +
              makeDriver("r3", "full_feature", 0x83) + " --increment " + kShortAddress + "=62 --report " +
              report.string());
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("no value is left for " + kShortAddress + ": the last one, 63"));
    const std::vector<json> lines = jsonLines(readAll(report));
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[1]["increment"]["value"], 63);
}

TEST(ProgramIncrementTest, RefusesWhatCannotCountBeforeTouchingADriver) {
    const std::string tags = " --tags " + makeDriver("untouched", "full_feature", 0x91);
    const auto report = scratch("refused.jsonl");
    std::filesystem::remove(report);
    for (const std::string& increment :
         {kShortAddress + "=64", kShortAddress + "=-1", kShortAddress + "=x",
          std::string("nfc_data_addr_dc_dali_addressing.no_such_item"), std::string("no_such_area.item"),
          std::string("nfc_data_addr_dc_dali_addressing.group_membership.group_0"),
          std::string("nfc_data_addr_dc_product_identification.device_type")}) {
        const ProcessResult run = wynfc("program --reader sim-nfc --values " + profile() + tags +
                                        " --increment " + increment + " --report " + report.string());
        EXPECT_EQ(run.status, 2) << increment << "\n" << run.err;
        EXPECT_THAT(run.err, HasSubstr("--increment")) << increment;
    }
    EXPECT_EQ(wynfc("program --reader sim-nfc" + tags).status, 2) << "no --values";
    EXPECT_EQ(wynfc("program --values " + profile() + " --tags " + scratch("missing.json").string()).status,
              2);
    EXPECT_EQ(wynfc("program --values " + profile() + " --count 0").status, 2);
    EXPECT_FALSE(std::filesystem::exists(report)) << "nothing was run, nothing recorded";
}

} // namespace
