#pragma once

// What the NFC and the Bluetooth transport tests share: the shipped address map, timings,
// the sample driver's tag, and the countdown's log lines.

#include "platform/console_log.h"
#include "platform/sim/virtual_tag.h"
#include "platform/timing.h"
#include "readers/shared_api.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace wynfc::test {

using Texts = std::vector<std::string>;

// Long enough for anything that should happen at once, even under the sanitizers.
inline constexpr std::chrono::seconds kPatience{5};

inline void loadShippedAddressMap() {
    std::ifstream file(std::string(WYNFC_RESOURCES_DIR) + "/address_map.json");
    std::stringstream text;
    text << file.rdbuf();
    ASSERT_TRUE(sharedApi().loadAddressMapFile(text.str()));
}

inline Timing tickTiming(int millis) {
    Timing timing;
    timing.countdownTick = Millis(millis);
    return timing;
}

inline std::shared_ptr<VirtualTag> sampleTag() {
    return VirtualTag::load(std::string(WYNFC_RESOURCES_DIR) + "/samples/basic.json");
}

// The countdown's lines and the timeout's, without the component tag, in the order logged.
inline std::vector<std::string> countdownLines(const LogCapture& log) {
    std::vector<std::string> found;
    for (const std::string& line : log.lines()) {
        if (line.find("Countdown") != std::string::npos || line.find("TIMEOUT") != std::string::npos) {
            found.push_back(line.substr(line.rfind("------ ") + 7));
        }
    }
    return found;
}

inline std::vector<std::string> fullCountdown(const std::string& timeoutLine) {
    return {"Current Countdown Number: 5", "Current Countdown Number: 4", "Current Countdown Number: 3",
            "Current Countdown Number: 2", "Current Countdown Number: 1", timeoutLine};
}

} // namespace wynfc::test
