#pragma once

// Helpers of the NFC transport tests: the address map, a receiver that records events,
// a log watcher a test can wait on, and a scripted tag reader whose tag answers only when
// the test says so.

#include "platform/console_log.h"
#include "platform/sim/event_loop.h"
#include "platform/tag_reader_session.h"
#include "platform/timing.h"
#include "readers/reader_contract.h"
#include "readers/shared_api.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace wynfc::test {

// Long enough for anything that should happen at once, even under the sanitizers.
inline constexpr std::chrono::seconds kPatience{5};

inline void loadShippedAddressMap() {
    std::ifstream file(std::string(WYNFC_RESOURCES_DIR) + "/address_map.json");
    std::stringstream text;
    text << file.rdbuf();
    ASSERT_FALSE(text.str().empty());
    sharedApi().loadAddressMapFile(text.str());
}

inline Timing shortTiming(int tickMillis) {
    Timing timing;
    timing.countdownTick = Millis(tickMillis);
    return timing;
}

struct ReaderEvent {
    std::string name;
    std::optional<std::string> message;
    bool isError = false;
};

class RecordingReceiver final : public ResponseToReaderDelegate {
public:
    void onReaderEvent(const std::string& event, const std::optional<std::string>& message,
                       bool isError) override {
        std::lock_guard lock(mMutex);
        mEvents.push_back({event, message, isError});
        mChanged.notify_all();
    }
    std::vector<ReaderEvent> events() const {
        std::lock_guard lock(mMutex);
        return mEvents;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> names;
        for (const ReaderEvent& event : events()) {
            names.push_back(event.name);
        }
        return names;
    }
    // Waits until `count` events of that name have come.
    bool waitFor(const std::string& name, int count = 1) {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, kPatience, [&] {
            int seen = 0;
            for (const ReaderEvent& event : mEvents) {
                seen += event.name == name ? 1 : 0;
            }
            return seen >= count;
        });
    }

private:
    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<ReaderEvent> mEvents;
};

// Collects the log lines while it lives; a test can wait for one.
class LogWatcher {
public:
    LogWatcher() {
        mPrevious = setLogSink([this](const std::string& line) {
            std::lock_guard lock(mMutex);
            mLines.push_back(line);
            mChanged.notify_all();
        });
    }
    ~LogWatcher() { setLogSink(std::move(mPrevious)); }
    LogWatcher(const LogWatcher&) = delete;
    LogWatcher& operator=(const LogWatcher&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard lock(mMutex);
        return mLines;
    }
    int count(const std::string& text) const {
        std::lock_guard lock(mMutex);
        return countLocked(text);
    }
    // Waits until `count` lines contain the text.
    bool waitFor(const std::string& text, int count = 1) {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, kPatience, [&] { return countLocked(text) >= count; });
    }

private:
    int countLocked(const std::string& text) const {
        int found = 0;
        for (const std::string& line : mLines) {
            found += line.find(text) != std::string::npos ? 1 : 0;
        }
        return found;
    }

    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<std::string> mLines;
    LogSink mPrevious;
};

} // namespace wynfc::test
