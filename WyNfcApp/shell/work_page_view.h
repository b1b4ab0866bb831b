#pragma once

#include "platform/linux/gtk/webkit_web_view_host.h"
#include "shell/alert_panel.h"
#include "shell/device_sheet.h"
#include "shell/shell_context.h"
#include "shell/waiting_popup.h"
#include "work/work_page.h"

#include <gtkmm.h>

#include <atomic>
#include <functional>
#include <memory>

namespace wynfc::shell {

// The work page on screen: the configuration page in the web view, and over it the
// waiting popup, the "Failed to write!" and "Connected!" alerts and the Bluetooth device
// sheet. Every part is drawn from the page's state as it is when the main loop gets to
// it; no reader or workflow logic lives here.
class WorkPageView : public Gtk::Overlay {
public:
    // `onClosed` runs on a later turn of the main loop once the page has closed itself.
    WorkPageView(ReaderMode mode, const ShellContext& context, std::function<void()> onClosed);
    ~WorkPageView() override;

    // The page comes on screen: loads the configuration page and starts the page's work.
    void start();

    const std::shared_ptr<WorkPage>& page() const { return mPage; }
    WebKitWebViewHost& webView() { return *mWebView; }
    WaitingPopup& waitingPopup() { return mWaitingPopup; }
    DeviceSheet& deviceSheet() { return mDeviceSheet; }
    AlertPanel& connectedAlert() { return mConnectedAlert; }
    AlertPanel& errorTipsAlert() { return mErrorTipsAlert; }
    // Redraws now from the page's state (the views also redraw by themselves on changes).
    void redraw();

private:
    std::function<void()> redrawRequest();

    ShellContext mContext;
    std::shared_ptr<WorkPage> mPage;
    std::shared_ptr<WebKitWebViewHost> mWebView;
    Gtk::Label mNoPage;
    WaitingPopup mWaitingPopup;
    DeviceSheet mDeviceSheet;
    AlertPanel mErrorTipsAlert;
    AlertPanel mConnectedAlert;
    Published<WorkPageState>::Subscription mStateSubscription;
    Published<std::vector<std::shared_ptr<Peripheral>>>::Subscription mPeripheralsSubscription;
    Published<bool>::Subscription mConnectedSubscription;
    // Set while a redraw waits on the main loop: many changes, one redraw.
    std::shared_ptr<std::atomic<bool>> mRedrawPending = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
};

} // namespace wynfc::shell
