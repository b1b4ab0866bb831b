#include "platform/sim/scripted_file_chooser.h"

#include <utility>

namespace wynfc {

ScriptedFileChooser::ScriptedFileChooser(std::shared_ptr<MainQueue> mainQueue)
    : mMainQueue(std::move(mainQueue)) {}

void ScriptedFileChooser::chooseFileToOpen(const FileChooserRequest& request, Done done) {
    ask(Kind::Open, request, std::move(done));
}

void ScriptedFileChooser::chooseFileToSave(const FileChooserRequest& request, Done done) {
    ask(Kind::Save, request, std::move(done));
}

void ScriptedFileChooser::ask(Kind kind, const FileChooserRequest& request, Done done) {
    std::lock_guard lock(mMutex);
    mDialogs.push_back({kind, request});
    if (mHold) {
        mOpen.push_back(std::move(done));
    } else {
        answerLocked(std::move(done));
    }
}

void ScriptedFileChooser::answerLocked(Done done) {
    std::optional<std::filesystem::path> answer;
    if (!mAnswers.empty()) {
        answer = std::move(mAnswers.front());
        mAnswers.pop_front();
    }
    mMainQueue->async([done = std::move(done), answer = std::move(answer)] { done(answer); });
}

void ScriptedFileChooser::prepareAnswer(std::optional<std::filesystem::path> answer) {
    std::lock_guard lock(mMutex);
    mAnswers.push_back(std::move(answer));
}

void ScriptedFileChooser::holdAnswers(bool hold) {
    std::lock_guard lock(mMutex);
    mHold = hold;
}

bool ScriptedFileChooser::releaseAnswer() {
    std::lock_guard lock(mMutex);
    if (mOpen.empty()) {
        return false;
    }
    Done done = std::move(mOpen.front());
    mOpen.pop_front();
    answerLocked(std::move(done));
    return true;
}

std::vector<ScriptedFileChooser::Dialog> ScriptedFileChooser::dialogs() const {
    std::lock_guard lock(mMutex);
    return mDialogs;
}

int ScriptedFileChooser::openDialogs() const {
    std::lock_guard lock(mMutex);
    return static_cast<int>(mOpen.size());
}

} // namespace wynfc
