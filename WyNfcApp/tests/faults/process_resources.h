#pragma once

// What this test process holds, read from /proc: memory, threads, open files. The fault
// matrix and the soak check that jobs leave none of it behind.

#include "platform/timing.h"

#include <cstddef>
#include <set>
#include <sys/types.h>

namespace wynfc::fault_test {

// Resident memory of the process, in kibibytes (VmRSS of /proc/self/status).
std::size_t residentKiB();

// The threads of the process (/proc/self/task).
std::set<pid_t> threadIds();

// The threads of the process before any job, to hold the threads after them to. The thread
// sanitizer starts a thread of its own when the process makes its first one: a thread made
// and ended here first, so that the sanitizer's is among these.
std::set<pid_t> threadsBeforeJobs();

// Open file descriptors (/proc/self/fd), the one used to list them excepted.
std::size_t openFileCount();

// Waits until every thread outside `kept` has ended, or the limit has passed; returns the
// threads still running then. A detached thread that has just finished its work may still be
// on its way out: the wait sleeps on each thread's pidfd, which the kernel marks readable
// when that thread ends.
std::set<pid_t> threadsStillRunning(const std::set<pid_t>& kept, Millis limit);

} // namespace wynfc::fault_test
