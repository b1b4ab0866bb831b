#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace wynfc {

// Application diagnostics: plain console lines, each led by its component's tag
// ("------ BleReader ------ Parse frame ok!!!"). They go to standard error, so that a
// host's standard output carries only its results.
void logLine(std::string_view tag, std::string_view text);

// Replaces where lines go (standard error when empty); returns the previous sink.
// Lines may come from any thread; the sink is called under a lock, one line at a time.
using LogSink = std::function<void(const std::string& line)>;
LogSink setLogSink(LogSink sink);

// Collects every line written while it lives, e.g. for a test to look at.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    // Lines that contain the text.
    int count(std::string_view text) const;
    bool contains(std::string_view text) const { return count(text) > 0; }
    // Waits until a line containing the text has been written; false after the timeout.
    bool waitFor(std::string_view text, std::chrono::milliseconds timeout) const;

private:
    struct Shared;
    std::unique_ptr<Shared> mShared;
    LogSink mPrevious;
};

} // namespace wynfc
