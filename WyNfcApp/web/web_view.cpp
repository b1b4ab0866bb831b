#include "web/web_view.h"

#include "web/page_events.h"

#include <cstdint>
#include <system_error>

namespace wynfc {

std::string fileUrl(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) {
        absolute = path;
    }
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : absolute.generic_string()) {
        const auto byte = static_cast<std::uint8_t>(c);
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                           (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           c == '/';
        if (plain) {
            url += c;
        } else {
            url += '%';
            url += kHexDigits[byte >> 4];
            url += kHexDigits[byte & 0x0F];
        }
    }
    return url;
}

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
