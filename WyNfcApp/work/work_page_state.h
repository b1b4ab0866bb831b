#pragma once

#include <string>
#include <string_view>

namespace wynfc {

// What the scan loop does on its next turn.
enum class RunStatus { STOP_STATUS, RUNNING_STATUS, PAUSE_STATUS };
std::string_view rawValue(RunStatus status);

// An sRGB colour, components 0..255, with its opacity.
struct StatusColor {
    int red = 0;
    int green = 0;
    int blue = 0;
    double opacity = 1.0;

    bool operator==(const StatusColor&) const = default;
    StatusColor withOpacity(double value) const { return {red, green, blue, value}; }
};

namespace status_colors {
inline constexpr StatusColor kBlue{10, 89, 247, 1.0};    // waiting
inline constexpr StatusColor kOrange{237, 111, 33, 1.0}; // job in progress
inline constexpr StatusColor kGreen{100, 187, 92, 1.0};  // completed
inline constexpr StatusColor kRed{232, 64, 38, 1.0};     // failed, not supported
} // namespace status_colors

// The work page's view state: everything its views show. Views render from copies.
struct WorkPageState {
    bool mShowBLE = false;        // Bluetooth device sheet
    bool mShowBLEUnAuth = false;  // Bluetooth permission prompt
    bool mShowBLEDisable = false; // Bluetooth-off prompt
    bool mShowingPopover = false; // "Connected!" alert
    bool mShowBLEOperatePopup = false;
    bool mIsWriteMode = false;
    bool mDisableCancel = false;
    bool mIsLoaded = false;
    bool mHasError = false;
    bool mReadFailed = true; // no successful read yet, or the last one failed
    bool mShowErrorTipsPopup = false;
    std::string mErrorTips;
    std::string mStatusTips = "Waiting to read...";
    StatusColor mStatusFontColor = status_colors::kBlue;
    StatusColor mStatusBackgroundColor = status_colors::kBlue.withOpacity(0.2);
    float mProgressValue = 0.0F;
    bool mExitPage = false;
    RunStatus mScanWorkStatus = RunStatus::PAUSE_STATUS;
    // Read and write runs that have ended, whatever their outcome: a host waiting for a job
    // watches it (a run may end without changing the status line).
    int mRunsEnded = 0;
};

// Sets what the scan loop does next. STOP_STATUS is final: once the page has been left, no
// ending of a job may start or pause the loop again.
void changeScanWorkStatus(WorkPageState& state, RunStatus status);

} // namespace wynfc
