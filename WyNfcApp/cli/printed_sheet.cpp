#include "cli/printed_sheet.h"

#include <algorithm>

namespace wynfc::cli {

// Hears the inner session and tells the transport, naming the stand-in session instead.
class PrintedSheetService::Delegate final : public TagReaderSessionDelegate {
public:
    Delegate(std::weak_ptr<TagReaderSessionDelegate> outer, std::shared_ptr<PrintedSheetService> service,
             int number)
        : mOuter(std::move(outer)), mService(std::move(service)), mNumber(number) {}

    std::weak_ptr<Session> session;

    void tagReaderSessionDidBecomeActive(const std::shared_ptr<TagReaderSession>&) override {
        const auto outer = mOuter.lock();
        const auto own = session.lock();
        if (outer && own) {
            outer->tagReaderSessionDidBecomeActive(std::static_pointer_cast<TagReaderSession>(own));
        }
    }
    void tagReaderSessionDidDetect(const std::shared_ptr<TagReaderSession>&,
                                   const std::vector<std::shared_ptr<NfcTag>>& tags) override {
        const auto driver = std::find_if(tags.begin(), tags.end(),
                                         [](const auto& tag) { return asIso15693Tag(tag) != nullptr; });
        if (driver != tags.end()) {
            {
                std::lock_guard lock(mService->mMutex);
                mService->mLastUid = asIso15693Tag(*driver)->identifier();
            }
            mService->detections.modify([](int& count) { ++count; });
        }
        const auto outer = mOuter.lock();
        const auto own = session.lock();
        if (outer && own) {
            outer->tagReaderSessionDidDetect(std::static_pointer_cast<TagReaderSession>(own), tags);
        }
    }
    void tagReaderSessionDidInvalidateWithError(const std::shared_ptr<TagReaderSession>&,
                                                const NfcError& error) override;

private:
    std::weak_ptr<TagReaderSessionDelegate> mOuter;
    std::shared_ptr<PrintedSheetService> mService;
    const int mNumber;
};

class PrintedSheetService::Session final : public TagReaderSession {
public:
    Session(std::shared_ptr<PrintedSheetService> service, std::shared_ptr<Delegate> delegate)
        : mService(std::move(service)), mDelegate(std::move(delegate)) {}

    void attach(std::shared_ptr<TagReaderSession> inner) { mInner = std::move(inner); }

    void setAlertMessage(const std::string& text) override {
        {
            std::lock_guard lock(mMutex);
            mAlert = text;
        }
        mInner->setAlertMessage(text);
    }
    void begin() override {
        mService->mPrinter(alert());
        mInner->begin();
    }
    void restartPolling() override { mInner->restartPolling(); }
    void connect(const std::shared_ptr<NfcTag>& tag, TagCompletion completion) override {
        mInner->connect(tag, std::move(completion));
    }
    void invalidate() override {
        ending("done: " + alert());
        mInner->invalidate();
    }
    void invalidate(const std::string& errorMessage) override {
        ending("failed: " + errorMessage);
        mInner->invalidate(errorMessage);
    }

    // The session ended without the application's word: the reader's own reason.
    void endedBy(const NfcError& error) { ending("ended: " + error.description); }

private:
    std::string alert() const {
        std::lock_guard lock(mMutex);
        return mAlert;
    }
    // Prints the sheet's last text once, whichever ending comes first.
    void ending(const std::string& line) {
        {
            std::lock_guard lock(mMutex);
            if (mEnded) {
                return;
            }
            mEnded = true;
        }
        {
            std::lock_guard lock(mService->mMutex);
            mService->mLastEnding = line;
        }
        mService->mPrinter(line);
    }

    std::shared_ptr<PrintedSheetService> mService;
    std::shared_ptr<Delegate> mDelegate; // the inner session holds it weakly
    std::shared_ptr<TagReaderSession> mInner;
    mutable std::mutex mMutex;
    std::string mAlert;
    bool mEnded = false;
};

void PrintedSheetService::Delegate::tagReaderSessionDidInvalidateWithError(
    const std::shared_ptr<TagReaderSession>&, const NfcError& error) {
    const auto own = session.lock();
    if (own) {
        own->endedBy(error);
    }
    mService->endedThrough.modify([this](int& newest) { newest = std::max(newest, mNumber); });
    const auto outer = mOuter.lock();
    if (outer && own) {
        outer->tagReaderSessionDidInvalidateWithError(std::static_pointer_cast<TagReaderSession>(own), error);
    }
}

PrintedSheetService::PrintedSheetService(std::shared_ptr<TagReaderService> inner, Printer printer)
    : mInner(std::move(inner)), mPrinter(std::move(printer)) {}

bool PrintedSheetService::readingAvailable() const {
    return mInner->readingAvailable();
}

std::shared_ptr<TagReaderSession>
PrintedSheetService::makeSession(PollingOptions polling, std::weak_ptr<TagReaderSessionDelegate> delegate) {
    int number = 0;
    {
        std::lock_guard lock(mMutex);
        number = ++mSessionsMade;
    }
    auto forward = std::make_shared<Delegate>(std::move(delegate), shared_from_this(), number);
    auto inner = mInner->makeSession(polling, forward);
    if (!inner) {
        return nullptr;
    }
    auto session = std::make_shared<Session>(shared_from_this(), forward);
    session->attach(std::move(inner));
    forward->session = session;
    std::lock_guard lock(mMutex);
    mNewest = session;
    return session;
}

int PrintedSheetService::sessionsMade() const {
    std::lock_guard lock(mMutex);
    return mSessionsMade;
}

Bytes PrintedSheetService::lastDetectedUid() const {
    std::lock_guard lock(mMutex);
    return mLastUid;
}

std::string PrintedSheetService::lastEnding() const {
    std::lock_guard lock(mMutex);
    return mLastEnding;
}

bool PrintedSheetService::closeSheet() {
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(mMutex);
        session = mNewest.lock();
    }
    if (!session) {
        return false;
    }
    session->invalidate("No tag was presented");
    return true;
}

} // namespace wynfc::cli
