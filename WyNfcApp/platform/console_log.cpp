#include "platform/console_log.h"

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
    std::vector<std::string> lines;
};

LogCapture::LogCapture() : mShared(std::make_unique<Shared>()) {
    Shared* shared = mShared.get();
    mPrevious = setLogSink([shared](const std::string& line) {
        std::lock_guard lock(shared->mutex);
        shared->lines.push_back(line);
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
    int found = 0;
    for (const std::string& line : mShared->lines) {
        found += line.find(text) != std::string::npos ? 1 : 0;
    }
    return found;
}

} // namespace wynfc
