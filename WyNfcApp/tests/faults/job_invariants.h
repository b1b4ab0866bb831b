#pragma once

// What every job must hold to, whatever fault it met, and what each failure must end in.

#include "fault_bench.h"

#include <string>
#include <vector>

namespace wynfc::fault_test {

// How a job ends when its fault hits a command, by what that command was for.
enum class Outcome {
    Completes,      // the fault is absorbed
    NothingBegins,  // presence failed: no run, no status change, no "WRITE_EVENT"
    NotSupported,   // identification unreadable: "Not Support this product"
    StatusKept,     // product description unreadable: the status line stays as it was
    FunctionalData, // an area or the capability list: "Read failed: functional data"
    // The first channel of a two-channel step: the second channel decides the step, so the
    // read may still complete, without the first channel's values.
    FirstChannel,
    DriverMismatch, // identification unreadable before a write: "Driver subtype is not match."
    WriteFailed,    // an area or the check pattern: "Write failed: Write failed"
};
std::string_view outcomeName(Outcome outcome);

// A sound job of the bench's kind, run once without a fault: its commands, what a read
// shows, what a write leaves on the tag.
struct Reference {
    std::vector<Step> steps;
    std::vector<PageEvent> updates;
    Bytes intendedMemory;
};
Reference referenceJob(FaultBench& bench);

Outcome expectedOutcome(JobKind job, const std::vector<Step>& steps, const Injection& injection);

// Each returns what was broken, in words; empty when the job held to everything.
std::vector<std::string> checkFaultedJob(const FaultBench& bench, const Reference& reference,
                                         const Injection& injection, const JobRecord& record);
std::vector<std::string> checkCompletedJob(const FaultBench& bench, const Reference& reference,
                                           const JobRecord& record);

} // namespace wynfc::fault_test
