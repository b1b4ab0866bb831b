#include "web/js_controller.h"

#include "web/page_events.h"

namespace wynfc {

void JSController::didReceiveScriptMessage(const ScriptMessage& message) {
    if (message.name != kRequestHandlerName) {
        return;
    }
    const std::string* body = message.text();
    if (body == nullptr) {
        return;
    }
    const size_t colon = body->find(':');
    if (colon == std::string::npos) {
        return;
    }
    std::shared_ptr<WebViewHandlerProtocol> delegate;
    {
        std::lock_guard lock(mMutex);
        delegate = mDelegate.lock();
    }
    if (delegate) {
        delegate->handlePageRequest(body->substr(0, colon), body->substr(colon + 1));
    }
}

void JSController::setDelegate(std::weak_ptr<WebViewHandlerProtocol> delegate) {
    std::lock_guard lock(mMutex);
    mDelegate = std::move(delegate);
}

std::shared_ptr<WebViewHost> JSController::webviewHandle() const {
    std::lock_guard lock(mMutex);
    return mWebviewHandle;
}

void JSController::setWebviewHandle(std::shared_ptr<WebViewHost> webView) {
    std::lock_guard lock(mMutex);
    mWebviewHandle = std::move(webView);
}

} // namespace wynfc
