#pragma once

#include "cli/cli_options.h"

#include <ostream>

namespace wynfc::cli {

// Each command returns the process exit status: 0 done, 1 the job failed, 2 bad input.
// Bad input (usage, unreadable or malformed files) is thrown as UsageError.
int runRead(const Options& options, std::ostream& out);
int runWrite(const Options& options, std::ostream& out);
// One profile into driver after driver (cli/program.cpp).
int runProgram(const Options& options, std::ostream& out);
int runDump(const Options& options, std::ostream& out);
int runRestore(const Options& options, std::ostream& out);
int runDecode(const Options& options, std::ostream& out);
int runAreas(const Options& options, std::ostream& out);
int runVersion(const Options& options, std::ostream& out);

} // namespace wynfc::cli
