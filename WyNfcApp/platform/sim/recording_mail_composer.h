#pragma once

#include "platform/mail_composer.h"

#include <mutex>
#include <vector>

namespace wynfc {

// Keeps every composed mail instead of showing it.
class RecordingMailComposer final : public MailComposer {
public:
    explicit RecordingMailComposer(bool canSend = true) : canSend_(canSend) {}

    bool canSendMail() const override {
        std::lock_guard lock(mutex_);
        return canSend_;
    }

    void compose(const MailMessage& message) override {
        std::lock_guard lock(mutex_);
        if (canSend_) {
            composed_.push_back(message);
        }
    }

    void setCanSend(bool canSend) {
        std::lock_guard lock(mutex_);
        canSend_ = canSend;
    }

    std::vector<MailMessage> composed() const {
        std::lock_guard lock(mutex_);
        return composed_;
    }

private:
    mutable std::mutex mutex_;
    bool canSend_;
    std::vector<MailMessage> composed_;
};

} // namespace wynfc
