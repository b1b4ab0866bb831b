#include "work/work_page_state.h"

namespace wynfc {

std::string_view rawValue(RunStatus status) {
    switch (status) {
    case RunStatus::STOP_STATUS:
        return "STOP_STATUS";
    case RunStatus::RUNNING_STATUS:
        return "RUNNING_STATUS";
    case RunStatus::PAUSE_STATUS:
        return "PAUSE_STATUS";
    }
    return "UNKNOWN";
}

void changeScanWorkStatus(WorkPageState& state, RunStatus status) {
    if (state.mScanWorkStatus != RunStatus::STOP_STATUS) {
        state.mScanWorkStatus = status;
    }
}

} // namespace wynfc
