#include "web/web_view.h"

#include "web/page_events.h"

namespace wynfc {

WebView::WebView(std::string url, std::shared_ptr<JSController> handler, Published<bool>& isLoaded)
    : mUrl(std::move(url)), mHandler(std::move(handler)),
      mCoordinator(std::make_shared<Coordinator>(isLoaded)) {}

void WebView::makeView(const std::shared_ptr<WebViewHost>& webView) {
    if (mMade || !webView) {
        return;
    }
    mMade = true;
    webView->addScriptMessageHandler(mHandler, kRequestHandlerName);
    webView->setNavigationDelegate(mCoordinator);
    webView->load(mUrl, kLoadTimeout);
    mHandler->setWebviewHandle(webView);
}

} // namespace wynfc
