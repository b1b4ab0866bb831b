#include "platform/console_log.h"

#include <condition_variable>
#include <iostream>
#include <memory>
#include <mutex>
#include <utility>

namespace wynfc {
namespace {

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

LogSink& currentSink() {
    static LogSink sink;
    return sink;
}

} // namespace

void logLine(std::string_view tag, std::string_view text) {
    std::string line;
    line.reserve(tag.size() + text.size() + 1);
    line.append(tag).append(" ").append(text);
    std::lock_guard lock(sinkMutex());
    if (currentSink()) {
        currentSink()(line);
    } else {
        std::cerr << line << '\n';
    }
}

LogSink setLogSink(LogSink sink) {
    std::lock_guard lock(sinkMutex());
    return std::exchange(currentSink(), std::move(sink));
}

struct LogCapture::Shared {
    mutable std::mutex mutex;
    std::condition_variable added;
    std::vector<std::string> lines;

    int countLocked(std::string_view text) const {
        int found = 0;
        for (const std::string& line : lines) {
            found += line.find(text) != std::string::npos ? 1 : 0;
        }
        return found;
    }
};

LogCapture::LogCapture() : mShared(std::make_unique<Shared>()) {
    Shared* shared = mShared.get();
    mPrevious = setLogSink([shared](const std::string& line) {
        std::lock_guard lock(shared->mutex);
        shared->lines.push_back(line);
        shared->added.notify_all();
    });
}

LogCapture::~LogCapture() {
    setLogSink(std::move(mPrevious));
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard lock(mShared->mutex);
    return mShared->lines;
}

int LogCapture::count(std::string_view text) const {
    std::lock_guard lock(mShared->mutex);
    return mShared->countLocked(text);
}

bool LogCapture::waitFor(std::string_view text, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mShared->mutex);
    return mShared->added.wait_for(lock, timeout, [&] { return mShared->countLocked(text) > 0; });
}

} // namespace wynfc
