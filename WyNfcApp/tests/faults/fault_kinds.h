#pragma once

// The jobs, the faults the simulation can inject, and the commands a job sends, as the
// simulated tag session and Bluetooth reader receive them.

#include "../work/work_bench.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wynfc::fault_test {

enum class JobKind { Read, Write };
std::string_view jobName(JobKind job);

// What the simulation can do to one command.
enum class Fault {
    NoAnswer,          // no answer at all
    ErrorStatus,       // the tag or the reader answers with an error
    SplitAnswer,       // the answer arrives in several notifications (no failure)
    LostNotification,  // one notification of the answer is lost
    LateAnswer,        // the answer comes just before the next command's, long after its wait
    AnswerAfterWait,   // the answer comes a whole countdown after its wait has given up
    CorruptCrc,        // the answer's CRC does not match
    TagRemoved,        // the tag leaves the field as the command goes out
    ReaderDisconnects, // the Bluetooth reader drops the connection instead of answering
    BluetoothOff,      // the machine's Bluetooth goes off as the command goes out
    PermissionRefused, // the user takes Bluetooth away from the program
    SheetClosed,       // the user closes the tag session's sheet
};
std::string_view faultName(Fault fault);
// A fault the transports must absorb: the job still completes.
bool isBenign(Fault fault);

// One command a job sent, as the simulated tag session or reader received it.
struct Step {
    enum class Kind { Presence, Read, Write };
    Kind kind = Kind::Presence;
    int firstBlock = 0;
    int blockCount = 0;
    std::string area;   // the memory area the blocks belong to; empty for presence
    int occurrence = 0; // earlier commands of the same kind on the same area in this job
};
std::string describe(const Step& step);

// The faults that can be injected into a command of this kind through this reader.
std::vector<Fault> faultsFor(ReaderMode mode, Step::Kind kind);

struct Injection {
    int step = 0; // the command, counted from 0 as the job sends them
    Fault fault = Fault::NoAnswer;
};
std::string describe(const Injection& injection, const std::vector<Step>& steps);

// The command a request to the simulated Bluetooth reader, or an operation of a simulated tag
// session, carries; none for what no job sends.
std::optional<Step> stepOfRequest(const Bytes& request);
std::optional<Step> stepOfOperation(const SessionOperation& operation);

} // namespace wynfc::fault_test
