#include "shell/work_page_view.h"

#include "readers/bluetooth_manager.h"

namespace wynfc::shell {
namespace {

// The page's handle on the web view. The page may outlive its view (a job still running
// holds it) and may be released on a job's thread; the WebKit view itself belongs to the
// view on the main thread. Once the view has gone, scripts go nowhere.
class ViewOwnedWebViewHost final : public WebViewHost {
public:
    explicit ViewOwnedWebViewHost(std::weak_ptr<WebKitWebViewHost> host) : mHost(std::move(host)) {}

    void addScriptMessageHandler(std::weak_ptr<ScriptMessageHandler> handler,
                                 const std::string& name) override {
        if (auto host = mHost.lock()) {
            host->addScriptMessageHandler(std::move(handler), name);
        }
    }
    void setNavigationDelegate(std::weak_ptr<WebNavigationDelegate> delegate) override {
        if (auto host = mHost.lock()) {
            host->setNavigationDelegate(std::move(delegate));
        }
    }
    void load(const std::string& url, Millis timeout) override {
        if (auto host = mHost.lock()) {
            host->load(url, timeout);
        }
    }
    void evaluateScript(const std::string& script) override {
        if (auto host = mHost.lock()) {
            host->evaluateScript(script);
        }
    }

private:
    std::weak_ptr<WebKitWebViewHost> mHost;
};

std::filesystem::path resourcesFolder(const ShellContext& context) {
    const auto page = context.bundle ? context.bundle->pathForResource("index", "html") : std::nullopt;
    return page ? page->parent_path() : std::filesystem::path("/nonexistent");
}

} // namespace

WorkPageView::WorkPageView(ReaderMode mode, const ShellContext& context, std::function<void()> onClosed)
    : mContext(context), mWebView(std::make_shared<WebKitWebViewHost>(resourcesFolder(context))),
      mWaitingPopup([this] { mPage->waitingPopupCancel(); }),
      mDeviceSheet({[this](const std::shared_ptr<Peripheral>& p) { mPage->connectPeripheral(p); },
                    [this] { mPage->deviceSheetCancel(); }, [this] { mPage->deviceSheetOk(); }}),
      mErrorTipsAlert("Failed to write!", "Reading data was occurred an error, please read data again!",
                      {{"OK", [this] { mPage->errorTipsOk(); }}}),
      mConnectedAlert("Connected!", "You have conencted to HF-BLE",
                      {{"OK", [this] { mPage->connectedPopoverOk(); }}}) {
    add_css_class("page");
    WorkPageEnvironment environment;
    environment.tabData = context.tabData;
    environment.bundle = context.bundle;
    environment.platform = context.platform;
    environment.fileChooser = context.fileChooser;
    environment.nextDriver = context.nextDriver;
    // The page leaves from its own request handling (inside the web view's signal): the
    // view goes on a later turn of the main loop.
    environment.dismiss = [queue = context.platform.mainQueue, alive = std::weak_ptr<bool>(mAlive),
                           onClosed = std::move(onClosed)] {
        queue->async([alive, onClosed] {
            if (alive.lock() && onClosed) {
                onClosed();
            }
        });
    };
    mPage = WorkPage::create(mode, std::move(environment));

    const bool hasPage = context.bundle && context.bundle->pathForResource("index", "html");
    if (hasPage) {
        Gtk::Widget* web = Glib::wrap(mWebView->widget());
        web->set_hexpand(true);
        web->set_vexpand(true);
        set_child(*web);
    } else {
        mNoPage.set_text("The configuration page (index.html) is missing from this installation.");
        mNoPage.set_wrap(true);
        set_child(mNoPage);
    }
    for (Gtk::Widget* layer : std::initializer_list<Gtk::Widget*>{&mWaitingPopup, &mDeviceSheet,
                                                                  &mErrorTipsAlert, &mConnectedAlert}) {
        layer->set_visible(false);
        add_overlay(*layer);
    }

    mStateSubscription =
        mPage->state.observe([request = redrawRequest()](const WorkPageState&) { request(); });
    mPeripheralsSubscription = mPage->dataHandler().discoveredPeripherals.observe(
        [request = redrawRequest()](const auto&) { request(); });
}

WorkPageView::~WorkPageView() {
    *mAlive = false;
    mStateSubscription = {};
    mPeripheralsSubscription = {};
    mConnectedSubscription = {};
    for (Gtk::Widget* layer : std::initializer_list<Gtk::Widget*>{&mWaitingPopup, &mDeviceSheet,
                                                                  &mErrorTipsAlert, &mConnectedAlert}) {
        remove_overlay(*layer);
    }
    unset_child();
}

void WorkPageView::start() {
    mPage->attachWebView(std::make_shared<ViewOwnedWebViewHost>(mWebView));
    mPage->appear();
    if (BluetoothManager* manager = mPage->bluetoothManager()) {
        mConnectedSubscription =
            manager->isConnected.observe([request = redrawRequest()](const bool&) { request(); });
    }
    redraw();
}

// Observers run on whichever thread changed the value, and two changes may reach them out
// of order: the view only asks for a redraw, which reads the state as it is by then. The
// request holds nothing of the view but what outlives it; `alive` is only read and reset
// on the main queue.
std::function<void()> WorkPageView::redrawRequest() {
    return [queue = mContext.platform.mainQueue, alive = std::weak_ptr<bool>(mAlive),
            pending = mRedrawPending, view = this] {
        if (pending->exchange(true)) {
            return;
        }
        queue->async([alive, pending, view] {
            pending->store(false);
            if (alive.lock()) {
                view->redraw();
            }
        });
    };
}

void WorkPageView::redraw() {
    const WorkPageState state = mPage->snapshot();
    mWaitingPopup.set_visible(state.mShowBLEOperatePopup);
    if (state.mShowBLEOperatePopup) {
        mWaitingPopup.show(state);
    }
    mDeviceSheet.set_visible(state.mShowBLE);
    if (state.mShowBLE) {
        BluetoothManager* manager = mPage->bluetoothManager();
        mDeviceSheet.show(mPage->dataHandler().discoveredPeripherals.get(),
                          manager ? manager->connectedPeripheral() : nullptr,
                          manager != nullptr && manager->isConnected.get(), state);
    }
    mErrorTipsAlert.set_visible(state.mShowErrorTipsPopup);
    mConnectedAlert.set_visible(state.mShowingPopover);
    // The page beneath a popup or sheet takes no keys (the layers above take the pointer).
    if (Gtk::Widget* page = get_child()) {
        page->set_can_focus(!(state.mShowBLEOperatePopup || state.mShowBLE || state.mShowErrorTipsPopup ||
                              state.mShowingPopover));
    }
}

} // namespace wynfc::shell
