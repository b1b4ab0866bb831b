#pragma once

#include "platform/main_queue.h"
#include "platform/web_view_host.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace wynfc {

// A web view without a page, for tests and headless hosts: it records what native code
// asks of it, and lets a test act as the page (post messages) and as the engine
// (navigation events). Everything it delivers goes through the main queue. Thread-safe.
class RecordingWebViewHost final : public WebViewHost {
public:
    explicit RecordingWebViewHost(MainQueue& mainQueue);

    void addScriptMessageHandler(std::weak_ptr<ScriptMessageHandler> handler,
                                 const std::string& name) override;
    void setNavigationDelegate(std::weak_ptr<WebNavigationDelegate> delegate) override;
    // Records the load; unless told otherwise, the navigation then starts and finishes.
    void load(const std::string& url, Millis timeout) override;
    void evaluateScript(const std::string& script) override;

    // As the page: posts to the handler registered under message.name. False, and nothing
    // delivered, when no handler has that name (the page would find no such handler).
    bool postMessage(ScriptMessage message);
    bool postText(const std::string& handlerName, const std::string& text);

    // As the engine.
    void startNavigation();
    void finishNavigation();
    void setLoadsFinishByThemselves(bool finish);

    // Every script evaluated so far, in order.
    std::vector<std::string> scripts() const;
    void clearScripts();
    // How many scripts were evaluated off the main queue (views may only touch the page there).
    int scriptsOffMainQueue() const;
    // Called with each script as it is evaluated, on the evaluating thread.
    void setScriptObserver(std::function<void(const std::string&)> observer);

    struct Load {
        std::string url;
        Millis timeout;
    };
    std::vector<Load> loads() const;
    std::vector<std::string> handlerNames() const;

private:
    MainQueue& mainQueue_;
    mutable std::mutex mutex_;
    std::map<std::string, std::weak_ptr<ScriptMessageHandler>> handlers_;
    std::weak_ptr<WebNavigationDelegate> navigationDelegate_;
    bool loadsFinish_ = true;
    std::vector<Load> loads_;
    std::vector<std::string> scripts_;
    int scriptsOffMainQueue_ = 0;
    std::shared_ptr<const std::function<void(const std::string&)>> observer_;
};

} // namespace wynfc
