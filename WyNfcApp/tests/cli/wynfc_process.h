#pragma once

// Running the wynfc program as a user or a script does, for the command tests: its exit status
// and what it wrote to each stream, with files of the test process's own.

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace wynfc::cli_test {

struct ProcessResult {
    int status = -1;
    std::string out;
    std::string err;

    // Standard output as JSON, one object per line (--json).
    std::vector<nlohmann::json> jsonLines() const {
        std::vector<nlohmann::json> lines;
        std::istringstream stream(out);
        for (std::string line; std::getline(stream, line);) {
            lines.push_back(nlohmann::json::parse(line));
        }
        return lines;
    }
};

// A file in a folder of this test program and process: CTest runs tests as parallel processes.
inline std::filesystem::path scratchFile(const std::string& testProgram, const std::string& name) {
    const auto folder = std::filesystem::path(WYNFC_BINARY_DIR) / testProgram / std::to_string(getpid());
    std::filesystem::create_directories(folder);
    return folder / name;
}

inline std::string readAll(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs wynfc with its durations scaled by `timeScale`; the arguments and `environment` (NAME=VALUE
// words, each followed by a space) pass through the shell as given.
inline ProcessResult runWynfc(const std::string& testProgram, const std::string& arguments,
                              const std::string& environment = "", const std::string& timeScale = "0.05") {
    const auto out = scratchFile(testProgram, "out.txt");
    const auto err = scratchFile(testProgram, "err.txt");
    const std::string command = environment + "WYNFC_TIME_SCALE=" + timeScale + " '" +
                                std::string(WYNFC_CLI) + "' " + arguments + " >'" + out.string() + "' 2>'" +
                                err.string() + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readAll(out), readAll(err)};
}

// A driver image cut after its first 128 blocks, past the areas a read shows: the check block
// (255) is missing, so a write to it fails after the areas are written.
inline void cutShort(nlohmann::json& image) {
    std::istringstream blocks(image["memory"].get<std::string>());
    std::string memory;
    std::string block;
    for (int i = 0; i < 128 && blocks >> block; ++i) {
        memory += (i == 0 ? "" : " ") + block;
    }
    image["blockCount"] = 128;
    image["memory"] = memory;
}

} // namespace wynfc::cli_test
