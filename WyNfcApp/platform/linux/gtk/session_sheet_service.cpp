#include "platform/linux/gtk/session_sheet_service.h"

#include "platform/linux/gtk/session_sheet_window.h"

#include <mutex>

namespace wynfc {

// A session of the inner service with a sheet. It stands in for the inner session towards
// the application (the delegate hears of this session, not the inner one) and tells the
// service what the sheet is to show.
class SheetTagReaderSession final : public TagReaderSession,
                                    public TagReaderSessionDelegate,
                                    public std::enable_shared_from_this<SheetTagReaderSession> {
public:
    SheetTagReaderSession(std::weak_ptr<SessionSheetService> service, std::uint64_t id,
                          std::weak_ptr<TagReaderSessionDelegate> delegate)
        : mService(std::move(service)), mId(id), mDelegate(std::move(delegate)) {}

    void attach(std::shared_ptr<TagReaderSession> inner) { mInner = std::move(inner); }

    // TagReaderSession
    void setAlertMessage(const std::string& text) override {
        {
            std::lock_guard lock(mMutex);
            mAlertMessage = text;
        }
        if (!ended()) {
            sheet(SessionSheetView{SessionSheetView::Phase::Scanning, text});
        }
        mInner->setAlertMessage(text);
    }

    void begin() override {
        if (auto service = mService.lock()) {
            service->mMainQueue->async(
                [weakService = mService, weakSelf = weak_from_this(), id = mId, message = alertMessage()] {
                    if (auto owner = weakService.lock()) {
                        owner->showSheet(id, weakSelf, message);
                    }
                });
        }
        mInner->begin();
    }

    void restartPolling() override { mInner->restartPolling(); }

    void connect(const std::shared_ptr<NfcTag>& tag, TagCompletion completion) override {
        mInner->connect(tag, std::move(completion));
    }

    void invalidate() override {
        if (markEnded()) {
            sheet(SessionSheetView{SessionSheetView::Phase::Succeeded, alertMessage()});
        }
        mInner->invalidate();
    }

    void invalidate(const std::string& errorMessage) override {
        if (markEnded()) {
            sheet(SessionSheetView{SessionSheetView::Phase::Failed, errorMessage});
        }
        mInner->invalidate(errorMessage);
    }

    // The user closed the sheet: the session ends as the user's choice.
    void cancelByUser() {
        if (markEnded()) {
            mCancelledByUser = true;
            mInner->invalidate();
        }
    }

    // TagReaderSessionDelegate: the inner session's events, passed on as this session's.
    void tagReaderSessionDidBecomeActive(const std::shared_ptr<TagReaderSession>&) override {
        if (auto delegate = mDelegate.lock()) {
            delegate->tagReaderSessionDidBecomeActive(shared_from_this());
        }
    }

    void tagReaderSessionDidDetect(const std::shared_ptr<TagReaderSession>&,
                                   const std::vector<std::shared_ptr<NfcTag>>& tags) override {
        if (auto delegate = mDelegate.lock()) {
            delegate->tagReaderSessionDidDetect(shared_from_this(), tags);
        }
    }

    void tagReaderSessionDidInvalidateWithError(const std::shared_ptr<TagReaderSession>&,
                                                const NfcError& error) override {
        if (markEnded()) {
            // Ended by the service itself (the reader went away, a time limit): say why.
            sheet(SessionSheetView{SessionSheetView::Phase::Failed, error.description});
        } else if (mCancelledByUser) {
            if (auto service = mService.lock()) {
                service->mMainQueue->async([weakService = mService, id = mId] {
                    if (auto owner = weakService.lock(); owner && owner->mSheetSession == id) {
                        owner->closeSheet();
                    }
                });
            }
        }
        if (auto delegate = mDelegate.lock()) {
            delegate->tagReaderSessionDidInvalidateWithError(shared_from_this(), error);
        }
    }

private:
    std::string alertMessage() const {
        std::lock_guard lock(mMutex);
        return mAlertMessage;
    }

    bool ended() const {
        std::lock_guard lock(mMutex);
        return mEnded;
    }

    // True for the one call that ends the session.
    bool markEnded() {
        std::lock_guard lock(mMutex);
        return !std::exchange(mEnded, true);
    }

    void sheet(SessionSheetView view) {
        if (auto service = mService.lock()) {
            service->mMainQueue->async([weakService = mService, id = mId, view = std::move(view)] {
                if (auto owner = weakService.lock()) {
                    owner->updateSheet(id, view);
                }
            });
        }
    }

    std::weak_ptr<SessionSheetService> mService;
    const std::uint64_t mId;
    std::weak_ptr<TagReaderSessionDelegate> mDelegate;
    std::shared_ptr<TagReaderSession> mInner;
    mutable std::mutex mMutex;
    std::string mAlertMessage;
    bool mEnded = false;
    std::atomic<bool> mCancelledByUser{false};
};

SessionSheetService::SessionSheetService(std::shared_ptr<TagReaderService> inner,
                                         std::shared_ptr<MainQueue> mainQueue, Millis linger,
                                         ParentWindow parent)
    : mInner(std::move(inner)), mMainQueue(std::move(mainQueue)), mLinger(linger),
      mParent(std::move(parent)) {}

SessionSheetService::~SessionSheetService() = default;

bool SessionSheetService::readingAvailable() const {
    return mInner && mInner->readingAvailable();
}

std::unique_ptr<AvailabilityWatch> SessionSheetService::watchAvailability(std::function<void()> changed) {
    return mInner ? mInner->watchAvailability(std::move(changed)) : nullptr;
}

std::shared_ptr<TagReaderSession>
SessionSheetService::makeSession(PollingOptions polling, std::weak_ptr<TagReaderSessionDelegate> delegate) {
    if (!mInner) {
        return nullptr;
    }
    auto session =
        std::make_shared<SheetTagReaderSession>(weak_from_this(), mNextSession++, std::move(delegate));
    auto inner = mInner->makeSession(polling, session);
    if (!inner) {
        return nullptr;
    }
    session->attach(std::move(inner));
    return session;
}

void SessionSheetService::showSheet(std::uint64_t session, std::weak_ptr<SheetTagReaderSession> owner,
                                    const std::string& message) {
    if (!mSheet) {
        mSheet = std::make_unique<SessionSheetWindow>([this] { cancelSheet(); });
    }
    if (Gtk::Window* parent = mParent ? mParent() : nullptr) {
        mSheet->set_transient_for(*parent);
    }
    mSheetSession = session;
    mSheetOwner = std::move(owner);
    ++mCloseGeneration;
    mSheet->show(SessionSheetView{SessionSheetView::Phase::Scanning, message});
}

void SessionSheetService::updateSheet(std::uint64_t session, SessionSheetView view) {
    if (!mSheet || session != mSheetSession) {
        return; // the sheet of an older session has been replaced
    }
    const bool ending = view.phase != SessionSheetView::Phase::Scanning;
    mSheet->show(view);
    if (ending) {
        mSheetOwner.reset();
        const auto generation = ++mCloseGeneration;
        mMainQueue->after(mLinger, [weak = weak_from_this(), generation] {
            if (auto self = weak.lock(); self && self->mCloseGeneration == generation) {
                self->closeSheet();
            }
        });
    }
}

void SessionSheetService::closeSheet() {
    if (mSheet) {
        mSheet->set_visible(false);
    }
    mSheetOwner.reset();
    mSheetSession = 0;
}

bool SessionSheetService::isSheetShown() const {
    return mSheet && mSheet->get_visible();
}

SessionSheetView SessionSheetService::sheetView() const {
    return mSheet ? mSheet->view() : SessionSheetView{};
}

Gtk::Window* SessionSheetService::sheetWindow() const {
    return mSheet.get();
}

bool SessionSheetService::cancelSheet() {
    auto owner = mSheetOwner.lock();
    if (!owner) {
        closeSheet();
        return false;
    }
    owner->cancelByUser();
    return true;
}

} // namespace wynfc
