// A program run to its end as a child process, for the job benchmarks: its standard output,
// exit status, wall time, and its own CPU time and peak memory as the kernel counts them.
#pragma once

#include <string>
#include <vector>

namespace wynfc::bench {

struct ChildRun {
    int status = -1; // exit status, -1 when it did not exit by itself
    std::string out;
    double wallMs = 0;
    double cpuMs = 0;
    long peakRssKiB = 0;
};

// Runs arguments[0] (a path) with the rest as its arguments, standard error to /dev/null, in
// this process's environment with the extra entries ("NAME=value") before it. Throws
// std::runtime_error when it cannot be started.
ChildRun runChild(const std::vector<std::string>& arguments,
                  const std::vector<std::string>& extraEnvironment = {});

} // namespace wynfc::bench
