#pragma once

#include "platform/web_view_host.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitUserContentManager WebKitUserContentManager;

namespace wynfc {

// The page's web view, in WebKitGTK. It shows file URLs inside one folder (the bundle's
// resources) and nothing else: navigations elsewhere are refused (a link the person clicked to
// a web or mail address opens in the desktop's browser instead) and the page has no network.
// Only the top frame reaches the message handlers: they live in a script world of their own,
// bridged to window.webkit.messageHandlers of the top frame alone. Used on the GTK main
// thread only.
class WebKitWebViewHost final : public WebViewHost {
public:
    explicit WebKitWebViewHost(std::filesystem::path allowedFolder);
    ~WebKitWebViewHost() override;

    WebKitWebViewHost(const WebKitWebViewHost&) = delete;
    WebKitWebViewHost& operator=(const WebKitWebViewHost&) = delete;

    // The widget to put in a window; the host keeps its own reference.
    GtkWidget* widget() const;

    void addScriptMessageHandler(std::weak_ptr<ScriptMessageHandler> handler,
                                 const std::string& name) override;
    void setNavigationDelegate(std::weak_ptr<WebNavigationDelegate> delegate) override;
    // A load that has not finished when the timeout passes is stopped, and so never finishes.
    void load(const std::string& url, Millis timeout) override;
    void evaluateScript(const std::string& script) override;

    // Runs the script and hands its result, as text, to `done` on the main thread; nothing
    // when the script threw or the view went away first.
    void evaluateForResult(const std::string& script, std::function<void(std::optional<std::string>)> done);

    // Sees every script handed to evaluateScript, before it runs (hosts that log, tests).
    void setScriptObserver(std::function<void(const std::string&)> observer);

    // Who opens a link the person clicked to a web or mail address (default: the desktop's
    // browser or mail program); an empty function restores the default.
    void setOutsideLinkOpener(std::function<void(const std::string&)> open);

    // Whether the page may be shown at this address: a file URL inside the allowed folder.
    bool isAllowedAddress(const std::string& uri) const;

private:
    struct Signals;

    void onLoadChanged(int loadEvent);
    void onLoadFailed();
    void onScriptMessage(const std::string& name, ScriptMessage message);
    void cancelLoadTimeout();

    std::filesystem::path mAllowedFolder;
    WebKitUserContentManager* mContentManager = nullptr;
    WebKitWebView* mView = nullptr;
    std::map<std::string, std::weak_ptr<ScriptMessageHandler>> mHandlers;
    std::weak_ptr<WebNavigationDelegate> mNavigationDelegate;
    std::function<void(const std::string&)> mScriptObserver;
    std::function<void(const std::string&)> mOpenOutside;
    bool mLoadFailed = false;
    unsigned mLoadTimeoutSource = 0;
    // Lets callbacks of WebKit that outlive this host find out that it has gone.
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
};

} // namespace wynfc
