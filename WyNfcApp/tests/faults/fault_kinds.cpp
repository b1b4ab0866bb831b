#include "fault_kinds.h"

#include "platform/sim/feig_frame.h"

namespace wynfc::fault_test {
namespace {

struct AreaBlocks {
    std::string name;
    int first = 0;
    int count = 0;
};

// Every area of the shipped map with its blocks, as the library describes them.
const std::vector<AreaBlocks>& areas() {
    static const std::vector<AreaBlocks> all = [] {
        std::vector<AreaBlocks> found;
        const auto map = nlohmann::json::parse(work_test::readText(work_test::resource("address_map.json")));
        for (const auto& area : map["mapping"]) {
            const std::string name = area["name"];
            const auto info = nlohmann::json::parse(*sharedApi().getNFCProductPropertiesJsonByName(name));
            found.push_back({name, info["startAddress"].get<int>() / 4, info["normBlockCount"].get<int>()});
        }
        return found;
    }();
    return all;
}

std::string areaOfBlock(int block) {
    for (const AreaBlocks& area : areas()) {
        if (block >= area.first && block < area.first + area.count) {
            return area.name;
        }
    }
    return "block " + std::to_string(block);
}

Step stepOf(Step::Kind kind, int first, int count) {
    Step step;
    step.kind = kind;
    step.firstBlock = first;
    step.blockCount = count;
    if (kind != Step::Kind::Presence) {
        step.area = areaOfBlock(first);
    }
    return step;
}

} // namespace

// A request to the Bluetooth reader: the ISO 15693 command it carries.
std::optional<Step> stepOfRequest(const Bytes& request) {
    const feig::CheckedRequest checked = feig::checkRequestFrame(request);
    const Bytes& host = checked.hostCommand;
    if (checked.status != feig::kStatusOk || host.size() < 3) {
        return std::nullopt;
    }
    switch (host[1]) {
    case feig::kInventory:
        return stepOf(Step::Kind::Presence, 0, 0);
    case feig::kReadMultipleBlocks:
        return host.size() >= 5 ? std::optional(stepOf(Step::Kind::Read, host[3], host[4])) : std::nullopt;
    case feig::kWriteMultipleBlocks:
        return host.size() >= 5 ? std::optional(stepOf(Step::Kind::Write, host[3], host[4])) : std::nullopt;
    default:
        return std::nullopt;
    }
}

std::optional<Step> stepOfOperation(const SessionOperation& operation) {
    switch (operation.kind) {
    case SessionOperation::Kind::Connect:
        return stepOf(Step::Kind::Presence, 0, 0);
    case SessionOperation::Kind::ReadBlocks:
        return stepOf(Step::Kind::Read, operation.firstBlock, operation.count);
    case SessionOperation::Kind::WriteBlock:
        return stepOf(Step::Kind::Write, operation.firstBlock, operation.count);
    case SessionOperation::Kind::SystemInfo:
        break;
    }
    return std::nullopt;
}

std::string_view jobName(JobKind job) {
    return job == JobKind::Read ? "read" : "write";
}

std::string_view faultName(Fault fault) {
    switch (fault) {
    case Fault::NoAnswer:
        return "no answer";
    case Fault::ErrorStatus:
        return "error status";
    case Fault::SplitAnswer:
        return "split answer";
    case Fault::LostNotification:
        return "lost notification";
    case Fault::LateAnswer:
        return "late answer";
    case Fault::AnswerAfterWait:
        return "answer after its wait";
    case Fault::CorruptCrc:
        return "corrupt CRC";
    case Fault::TagRemoved:
        return "tag removed";
    case Fault::ReaderDisconnects:
        return "reader disconnects";
    case Fault::BluetoothOff:
        return "Bluetooth off";
    case Fault::PermissionRefused:
        return "permission refused";
    case Fault::SheetClosed:
        return "sheet closed";
    }
    return "?";
}

bool isBenign(Fault fault) {
    return fault == Fault::SplitAnswer;
}

std::vector<Fault> faultsFor(ReaderMode mode, Step::Kind kind) {
    if (mode == ReaderMode::BLE) {
        return {Fault::NoAnswer,         Fault::ErrorStatus,      Fault::SplitAnswer,
                Fault::LostNotification, Fault::LateAnswer,       Fault::AnswerAfterWait,
                Fault::CorruptCrc,       Fault::TagRemoved,       Fault::ReaderDisconnects,
                Fault::BluetoothOff,     Fault::PermissionRefused};
    }
    if (kind == Step::Kind::Presence) { // a connection is made or refused at once
        return {Fault::ErrorStatus, Fault::TagRemoved, Fault::SheetClosed};
    }
    return {Fault::NoAnswer, Fault::ErrorStatus, Fault::LateAnswer, Fault::TagRemoved, Fault::SheetClosed};
}

std::string describe(const Step& step) {
    switch (step.kind) {
    case Step::Kind::Presence:
        return "presence";
    case Step::Kind::Read:
        return "read " + step.area + (step.occurrence > 0 ? " (again)" : "");
    case Step::Kind::Write:
        return "write block " + std::to_string(step.firstBlock) + " of " + step.area;
    }
    return "?";
}

std::string describe(const Injection& injection, const std::vector<Step>& steps) {
    const auto index = static_cast<std::size_t>(injection.step);
    return std::string(faultName(injection.fault)) + " at command " + std::to_string(injection.step) + " (" +
           (index < steps.size() ? describe(steps[index]) : "beyond the job") + ")";
}

} // namespace wynfc::fault_test
