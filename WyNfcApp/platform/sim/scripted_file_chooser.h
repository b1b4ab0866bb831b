#pragma once

#include "platform/file_chooser.h"
#include "platform/main_queue.h"

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace wynfc {

// File dialogs for tests: each dialog is answered with the next prepared answer (a file, or
// nothing as when the user cancels; nothing when none was prepared), on a later turn of
// the main queue. While answers are held, dialogs stay open until the test releases them,
// one at a time, oldest first. Every dialog asked for is recorded. Thread-safe.
class ScriptedFileChooser final : public FileChooser {
public:
    enum class Kind { Open, Save };
    struct Dialog {
        Kind kind;
        FileChooserRequest request;
    };

    explicit ScriptedFileChooser(std::shared_ptr<MainQueue> mainQueue);

    void chooseFileToOpen(const FileChooserRequest& request, Done done) override;
    void chooseFileToSave(const FileChooserRequest& request, Done done) override;

    void prepareAnswer(std::optional<std::filesystem::path> answer);
    // Keeps dialogs open until released; turning it off answers none of them by itself.
    void holdAnswers(bool hold);
    // Answers the oldest open dialog; false when none is open.
    bool releaseAnswer();

    // Every dialog asked for, in order.
    std::vector<Dialog> dialogs() const;
    // Dialogs asked for and not answered yet.
    int openDialogs() const;

private:
    void ask(Kind kind, const FileChooserRequest& request, Done done);
    // Posts the next prepared answer to `done`. Caller holds the lock.
    void answerLocked(Done done);

    const std::shared_ptr<MainQueue> mMainQueue;
    mutable std::mutex mMutex;
    std::deque<std::optional<std::filesystem::path>> mAnswers;
    bool mHold = false;
    std::deque<Done> mOpen;
    std::vector<Dialog> mDialogs;
};

} // namespace wynfc
