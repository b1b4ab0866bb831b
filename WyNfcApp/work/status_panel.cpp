// The work page's status setters: status line, colours, progress and the waiting popup.

#include "work/work_page.h"

#include <string>

namespace wynfc {
namespace {

void paint(WorkPageState& s, StatusColor color) {
    s.mStatusFontColor = color;
    s.mStatusBackgroundColor = color.withOpacity(0.2);
}

const char* waitingText(const WorkPageState& s) {
    return s.mIsWriteMode ? "Waiting to write..." : "Waiting to read...";
}

// "Reading 66%": the whole percentage, truncated.
void progressText(WorkPageState& s) {
    const int percent = static_cast<int>(s.mProgressValue * 100.0F);
    s.mStatusTips = std::string(s.mIsWriteMode ? "Writing " : "Reading ") + std::to_string(percent) + "%";
    paint(s, status_colors::kOrange);
}

void waiting(WorkPageState& s) {
    s.mHasError = false;
    s.mStatusTips = waitingText(s);
    paint(s, status_colors::kBlue);
    s.mProgressValue = 0.0F;
}

} // namespace

void WorkPage::showWaiting() {
    state.modify(waiting);
}

void WorkPage::showWaitingPopup() {
    state.modify([](WorkPageState& s) {
        s.mStatusTips = waitingText(s);
        s.mShowBLEOperatePopup = true;
    });
}

void WorkPage::setProgress(float fraction) {
    state.modify([&](WorkPageState& s) {
        s.mProgressValue = fraction;
        progressText(s);
    });
}

void WorkPage::showProgress() {
    state.modify(progressText);
}

void WorkPage::showCompleted() {
    state.modify([](WorkPageState& s) {
        s.mHasError = false;
        s.mStatusTips = s.mIsWriteMode ? "Write completed" : "Read completed";
        paint(s, status_colors::kGreen);
    });
}

void WorkPage::showFailure(const std::string& detail) {
    state.modify([&](WorkPageState& s) {
        s.mHasError = true;
        s.mStatusTips = s.mIsWriteMode ? "Write failed" : "Read failed";
        s.mErrorTips = (s.mIsWriteMode ? "Write failed: " : "Read failed: ") + detail;
        paint(s, status_colors::kRed);
    });
}

void WorkPage::showNotSupported() {
    state.modify([](WorkPageState& s) {
        s.mHasError = true;
        s.mStatusTips = "Not Support this product";
        s.mErrorTips = "Not Support this product";
        paint(s, status_colors::kRed);
    });
}

void WorkPage::closeWaitingPopup() {
    state.modify([](WorkPageState& s) {
        waiting(s);
        s.mShowBLEOperatePopup = false;
        s.mDisableCancel = false;
    });
}

void WorkPage::setScanWorkStatus(RunStatus status) {
    state.modify([&](WorkPageState& s) { changeScanWorkStatus(s, status); });
}

} // namespace wynfc
