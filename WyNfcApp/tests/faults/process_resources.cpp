#include "process_resources.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace wynfc::fault_test {
namespace {

#ifndef PIDFD_THREAD
constexpr unsigned kPidfdThread = 0x80; // O_EXCL: a pidfd for one thread (Linux 6.9)
#else
constexpr unsigned kPidfdThread = PIDFD_THREAD;
#endif

bool threadAlive(pid_t tid) {
    return std::filesystem::exists("/proc/self/task/" + std::to_string(tid));
}

} // namespace

std::size_t residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stoul(line.substr(6)); // "VmRSS:   12345 kB"
        }
    }
    return 0;
}

std::set<pid_t> threadIds() {
    std::set<pid_t> ids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        ids.insert(static_cast<pid_t>(std::stol(entry.path().filename().string())));
    }
    return ids;
}

std::set<pid_t> threadsBeforeJobs() {
    std::thread([] {}).join();
    return threadIds();
}

std::size_t openFileCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count > 0 ? count - 1 : 0; // the listing's own descriptor
}

std::set<pid_t> threadsStillRunning(const std::set<pid_t>& kept, Millis limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::set<pid_t> running;
    for (const pid_t tid : threadIds()) {
        if (kept.count(tid) != 0) {
            continue;
        }
        const long fd = syscall(SYS_pidfd_open, tid, kPidfdThread);
        if (fd < 0) {
            // Gone already (ESRCH), or a kernel without thread pidfds: then only a thread
            // still listed counts.
            if (threadAlive(tid)) {
                running.insert(tid);
            }
            continue;
        }
        const auto left = std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
        pollfd ended{static_cast<int>(fd), POLLIN, 0};
        if (poll(&ended, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) {
            running.insert(tid);
        }
        close(static_cast<int>(fd));
    }
    return running;
}

} // namespace wynfc::fault_test
