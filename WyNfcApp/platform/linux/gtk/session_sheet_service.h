#pragma once

#include "platform/main_queue.h"
#include "platform/tag_reader_session.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Gtk {
class Window;
}

namespace wynfc {

class SessionSheetWindow;
class SheetTagReaderSession;

// What a tag session's sheet shows.
struct SessionSheetView {
    enum class Phase { Scanning, Succeeded, Failed };
    Phase phase = Phase::Scanning;
    std::string message;
};

// Gives the sessions of another tag reader service the sheet a user sees while one runs:
// a modal window over the application with the session's alert message, its success or
// error at the end (shown for `linger`, then closed), and a Cancel button that ends the
// session as the user's choice. Sessions are used from any thread; the sheet lives on the
// main queue. The service must outlive the main loop's last turn.
class SessionSheetService final : public TagReaderService,
                                  public std::enable_shared_from_this<SessionSheetService> {
public:
    using ParentWindow = std::function<Gtk::Window*()>;

    SessionSheetService(std::shared_ptr<TagReaderService> inner, std::shared_ptr<MainQueue> mainQueue,
                        Millis linger, ParentWindow parent);
    ~SessionSheetService() override;

    bool readingAvailable() const override;
    // The inner service's watch.
    std::unique_ptr<AvailabilityWatch> watchAvailability(std::function<void()> changed) override;
    std::shared_ptr<TagReaderSession> makeSession(PollingOptions polling,
                                                  std::weak_ptr<TagReaderSessionDelegate> delegate) override;

    // Main queue. The sheet on screen now, if any.
    bool isSheetShown() const;
    SessionSheetView sheetView() const;
    // The sheet's window once a session has shown it.
    Gtk::Window* sheetWindow() const;
    // As the user pressing the sheet's Cancel button. False when no session runs.
    bool cancelSheet();

private:
    friend class SheetTagReaderSession;

    // Main queue: what a session asks of its sheet.
    void showSheet(std::uint64_t session, std::weak_ptr<SheetTagReaderSession> owner,
                   const std::string& message);
    void updateSheet(std::uint64_t session, SessionSheetView view);
    void closeSheet();

    std::shared_ptr<TagReaderService> mInner;
    std::shared_ptr<MainQueue> mMainQueue;
    Millis mLinger;
    ParentWindow mParent;
    std::atomic<std::uint64_t> mNextSession{1};

    // Main queue only.
    std::unique_ptr<SessionSheetWindow> mSheet;
    std::uint64_t mSheetSession = 0;
    std::weak_ptr<SheetTagReaderSession> mSheetOwner;
    std::uint64_t mCloseGeneration = 0; // a newer sheet outlives an older close timer
};

} // namespace wynfc
