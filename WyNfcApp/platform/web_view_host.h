#pragma once

#include "platform/timing.h"

#include <memory>
#include <string>
#include <variant>

namespace wynfc {

// A message the page posted to a named native handler.
struct ScriptMessage {
    // A body that is not a text (a number, an object, ...), in a readable form.
    struct NonText {
        std::string description;
    };

    std::string name; // the handler the page posted to
    std::variant<std::string, NonText> body;

    // The text body, or null when the page posted another kind of value.
    const std::string* text() const { return std::get_if<std::string>(&body); }
};

class ScriptMessageHandler {
public:
    virtual ~ScriptMessageHandler() = default;
    // Runs on the main queue.
    virtual void didReceiveScriptMessage(const ScriptMessage& message) = 0;
};

class WebNavigationDelegate {
public:
    virtual ~WebNavigationDelegate() = default;
    // Run on the main queue: a navigation began, and one finished. A navigation that fails
    // starts and never finishes.
    virtual void didStartProvisionalNavigation() = 0;
    virtual void didFinishNavigation() = 0;
};

// The embedded web view that shows the page. Used from the main queue.
class WebViewHost {
public:
    virtual ~WebViewHost() = default;

    // The page reaches the handler as window.webkit.messageHandlers.<name>.postMessage(body).
    // The host keeps only a weak reference; a later handler under the same name replaces it.
    virtual void addScriptMessageHandler(std::weak_ptr<ScriptMessageHandler> handler,
                                         const std::string& name) = 0;
    // Weak reference too.
    virtual void setNavigationDelegate(std::weak_ptr<WebNavigationDelegate> delegate) = 0;

    virtual void load(const std::string& url, Millis timeout) = 0;

    // Runs the script in the page; its result and any error are not reported.
    virtual void evaluateScript(const std::string& script) = 0;
};

} // namespace wynfc
