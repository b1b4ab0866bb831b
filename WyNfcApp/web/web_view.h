#pragma once

#include "platform/published.h"
#include "platform/web_view_host.h"
#include "web/js_controller.h"

#include <filesystem>
#include <memory>
#include <string>

namespace wynfc {

// The "file://" address of a local file: absolute, each byte other than letters, digits,
// "-", ".", "_", "~" and the "/" between folders percent-encoded, so that a folder named
// "a#b" or "my pages" is not read as a fragment or cut at the space.
std::string fileUrl(const std::filesystem::path& path);

// Puts the page into a web view: registers the controller as "requestNativeAsync",
// follows navigations into isLoaded, loads the page's address (60 s time-out) and hands
// the web view to the controller.
class WebView {
public:
    static constexpr Millis kLoadTimeout{60000};

    // `isLoaded` belongs to the work page and must outlive the web view's navigations.
    WebView(std::string url, std::shared_ptr<JSController> handler, Published<bool>& isLoaded);

    // Sets the web view up once; later calls change nothing.
    void makeView(const std::shared_ptr<WebViewHost>& webView);

private:
    // The web view's navigation delegate.
    class Coordinator : public WebNavigationDelegate {
    public:
        explicit Coordinator(Published<bool>& isLoaded) : mIsLoaded(isLoaded) {}
        void didStartProvisionalNavigation() override { mIsLoaded.set(false); }
        void didFinishNavigation() override { mIsLoaded.set(true); }

    private:
        Published<bool>& mIsLoaded;
    };

    std::string mUrl;
    std::shared_ptr<JSController> mHandler;
    std::shared_ptr<Coordinator> mCoordinator;
    bool mMade = false;
};

} // namespace wynfc
