#pragma once

#include "platform/web_view_host.h"

#include <memory>
#include <mutex>
#include <string>

namespace wynfc {

// Receives the page's requests, split into method and data.
class WebViewHandlerProtocol {
public:
    virtual ~WebViewHandlerProtocol() = default;
    virtual void handlePageRequest(const std::string& method, const std::string& data) = 0;
};

// The page's script message handler: a request "METHOD:DATA" posted to
// "requestNativeAsync" reaches the delegate as (METHOD, DATA), split at the first colon.
// Anything else (another handler, a body that is not text, no colon, no delegate) is
// dropped without a reply. Runs on the main queue.
class JSController : public ScriptMessageHandler {
public:
    void didReceiveScriptMessage(const ScriptMessage& message) override;

    void setDelegate(std::weak_ptr<WebViewHandlerProtocol> delegate);

    // The web view the page lives in, once created; events and scripts go there.
    std::shared_ptr<WebViewHost> webviewHandle() const;
    void setWebviewHandle(std::shared_ptr<WebViewHost> webView);

private:
    mutable std::mutex mMutex;
    std::weak_ptr<WebViewHandlerProtocol> mDelegate;
    std::shared_ptr<WebViewHost> mWebviewHandle;
};

} // namespace wynfc
