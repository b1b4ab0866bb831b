#pragma once

#include "cli/page_host.h"

#include <ostream>
#include <string>

namespace wynfc::cli {

// Readable output: one page event as a section of "name value" lines, bits indented under
// their item.
void printEvent(std::ostream& out, const PageEvent& event);

// A decoded value list as readable lines.
void printValues(std::ostream& out, const std::string& valuesJson, const std::string& indent);

// --json output: {"event": E, "payload": P}
std::string eventJson(const PageEvent& event);
// --json output: {"status": ..., "detail": ... or null, "progress": ...}
std::string outcomeJson(const JobOutcome& outcome);

// "Reading 50%" with a bar, on one terminal line.
std::string progressLine(const std::string& status, float progress);

} // namespace wynfc::cli
