#pragma once

#include "wy_nfc_api.h"

#include <gtest/gtest.h>
#include <string>

namespace wy_nfc_mapping::testing {

// Every test starts from a fresh library instance with the given map loaded.
class LibraryTest : public ::testing::Test {
protected:
    void TearDown() override { resetLibrary(); }

    static void resetLibrary() {
        ::testing::internal::CaptureStdout();
        WyNfcAPI::getInstance()->destroy();
        ::testing::internal::GetCapturedStdout();
    }

    // Loads the map into a fresh instance and returns what the load printed.
    static std::string load(const std::string& json, int expectedResult = 0) {
        resetLibrary();
        ::testing::internal::CaptureStdout();
        const int result = api().loadAddressMapFile(json);
        std::string output = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, expectedResult) << output;
        return output;
    }

    static WyNfcAPI& api() { return *WyNfcAPI::getInstance(); }
};

// Runs the call and returns what it printed.
template <typename Call> std::string printedBy(Call&& call) {
    ::testing::internal::CaptureStdout();
    call();
    return ::testing::internal::GetCapturedStdout();
}

inline Bytes bytes(std::initializer_list<int> values) {
    Bytes result;
    for (const int value : values) {
        result.push_back(static_cast<uint8_t>(value));
    }
    return result;
}

} // namespace wy_nfc_mapping::testing
