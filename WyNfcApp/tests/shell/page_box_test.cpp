// The page in its box, in the real WebKit: a hostile page reaches no network, no other address
// and, from a frame, no native handler; the real page runs no script written into it; and text
// from a driver reaches the page only as data, whatever characters it holds.

#include "page_test_support.h"

#include "platform/sim/tag_image.h"
#include "web/page_events.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

namespace wynfc::shell::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// A loopback port that counts who connects to it; nothing may.
class Listener {
public:
    Listener() {
        mSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(::bind(mSocket, reinterpret_cast<sockaddr*>(&address), length), 0);
        EXPECT_EQ(::listen(mSocket, 8), 0);
        EXPECT_EQ(::getsockname(mSocket, reinterpret_cast<sockaddr*>(&address), &length), 0);
        mPort = ntohs(address.sin_port);
    }
    ~Listener() { ::close(mSocket); }
    int port() const { return mPort; }
    bool reached() {
        const int client = ::accept(mSocket, nullptr, nullptr);
        if (client >= 0) {
            ::close(client);
            return true;
        }
        return false;
    }

private:
    int mSocket = -1;
    int mPort = 0;
};

class PageBoxTest : public PageTest {
protected:
    std::filesystem::path folder() {
        const auto path =
            std::filesystem::path(WYNFC_BINARY_DIR) / "page_box_test" / std::to_string(::getpid());
        std::filesystem::create_directories(path);
        return path;
    }
    static void write(const std::filesystem::path& file, const std::string& text) {
        std::ofstream(file) << text;
    }
};

TEST_F(PageBoxTest, AHostilePageReachesNoNetworkNoOtherAddressAndNoHandlerFromAFrame) {
    Listener listener;
    const auto box = folder();
    write(box / "index.html",
          "<!DOCTYPE html><body><a id='out' href='https://example.com/'>out</a><script>"
          "const post = (t) => window.webkit.messageHandlers.requestNativeAsync.postMessage(t);"
          "window.addEventListener('message', (e) => post(String(e.data)));"
          // A frame of the page's own (about:blank, the only kind the view lets in): its window
          // must offer no native handler.
          "const f = document.createElement('iframe'); document.body.appendChild(f);"
          "const w = f.contentWindow; const h = w.webkit && w.webkit.messageHandlers &&"
          " w.webkit.messageHandlers.requestNativeAsync; if (h) h.postMessage('FROM_FRAME:');"
          "post('FRAME_SAW:' + typeof h);"
          "fetch('http://127.0.0.1:" +
              std::to_string(listener.port()) +
              "/').then(() => post('FETCHED:'), () => post('FETCH_FAILED:'));"
              // The page's own script clicks its link: no person did.
              "document.getElementById('out').click();"
              "post('READY:');"
              "</script></body>");
    std::vector<std::string> opened;
    loadFile(box, "index.html");
    mView->setOutsideLinkOpener([&](const std::string& uri) { opened.push_back(uri); });
    ASSERT_TRUE(runUntil([&] { return !posted("READY").empty(); }));
    ASSERT_TRUE(runUntil([&] { return !posted("FRAME_SAW").empty() && !posted("FETCH_FAILED").empty(); }))
        << ::testing::PrintToString(takePosted());
    EXPECT_EQ(posted("FRAME_SAW"), std::vector<std::string>{"undefined"});
    EXPECT_TRUE(posted("FROM_FRAME").empty()) << "a frame reached the native handler";
    EXPECT_TRUE(posted("FETCHED").empty());

    // Scripts ask to go elsewhere, or to open windows.
    const std::string page = eval("location.href").value_or("");
    ASSERT_THAT(page, StartsWith("file://"));
    for (const std::string attempt :
         {"location.href = 'https://example.com/'", "location.href = 'file:///etc/hostname'",
          "String(window.open('https://example.com/'))"}) {
        eval(attempt + "; true");
        // Given a moment to go, the page stays where it is.
        EXPECT_FALSE(runUntil([&] { return eval("location.href").value_or("") != page; }, Millis{300}))
            << attempt;
    }
    EXPECT_EQ(opened, std::vector<std::string>{}) << "what a script asked for was opened";
    // A click that WebKit counts as the person's (the host's own script is one) opens the link
    // in the desktop's browser, and the page stays.
    eval("document.getElementById('out').click(); true");
    EXPECT_TRUE(runUntil([&] { return !opened.empty(); }));
    EXPECT_EQ(opened, std::vector<std::string>{"https://example.com/"});
    EXPECT_EQ(eval("location.href").value_or(""), page);
    settle();
    EXPECT_FALSE(listener.reached()) << "the page reached the network";
}

TEST_F(PageBoxTest, TheRealPageRunsNoScriptWrittenIntoItAndFetchesNothing) {
    Listener listener;
    loadPage(WYNFC_RESOURCES_DIR);
    eval("window.violations = 0; document.addEventListener('securitypolicyviolation', () => "
         "++window.violations); true");
    eval("document.body.insertAdjacentHTML('beforeend', "
         "'<img src=\"missing.png\" onerror=\"window.pwned = 1\"><a id=\"js\" href=\"javascript:window.pwned "
         "= 4\">x</a>');"
         "const s = document.createElement('script'); s.textContent = 'window.pwned = 2'; "
         "document.body.appendChild(s);"
         "fetch('http://127.0.0.1:" +
         std::to_string(listener.port()) +
         "/').catch(() => {}); document.getElementById('js').click(); true");
    EXPECT_TRUE(waitFor("window.violations >= 3"));
    EXPECT_EQ(eval("typeof window.pwned"), "undefined");
    settle();
    EXPECT_FALSE(listener.reached());
}

// Texts with quotes, script ends, line breaks and line separators, and a very long one, arrive
// as the very text sent.
TEST_F(PageBoxTest, PayloadsArriveAsTheTextSentWhateverTheyHold) {
    loadPage(WYNFC_RESOURCES_DIR);
    eval("window.got = []; const original = window.WyNfcEventCallback;"
         "window.WyNfcEventCallback = (e, p) => { window.got.push(p); return original(e, p); }; true");
    const std::vector<std::string> hostile = {
        "it's \"quoted\" \\ and `${window.pwned = 1}`",
        "</script><script>window.pwned = 2</script>",
        "line\nbreak\rreturn\u2028separator\u2029paragraph\ttab",
        "');window.pwned=3;('",
        std::string(200000, 'x') + "'",
    };
    for (const std::string& text : hostile) {
        feed("HOSTILE_EVENT", text);
    }
    ASSERT_EQ(eval("String(window.got.length)"), std::to_string(hostile.size()));
    for (std::size_t i = 0; i < hostile.size(); ++i) {
        EXPECT_EQ(eval("window.got[" + std::to_string(i) + "]"), hostile[i]) << i;
    }
    EXPECT_EQ(eval("typeof window.pwned"), "undefined");
}

TEST_F(PageBoxTest, ADriversTextIsShownAsText) {
    TagImage image = loadTagImage(std::string(WYNFC_RESOURCES_DIR) + "/samples/basic.json");
    // The model name, bytes 24 to 31 of the product properties at byte 8.
    const Bytes name{'\'', '<', '/', 's', '`', '"', '\\', '>'};
    std::copy(name.begin(), name.end(), image.memory.begin() + 32);
    const auto tag = folder() / "hostile_tag.json";
    saveTagImage(image, tag);
    loadPage(WYNFC_RESOURCES_DIR);
    feedRead(tag.string());
    const std::string shown = valueAt("nfc_data_addr_led_product_properties.model_name");
    EXPECT_THAT(shown, HasSubstr("'</s`\"\\>"));
    EXPECT_EQ(eval("[...document.querySelectorAll('script')].every((s) => "
                   "(s.getAttribute('src') || '').startsWith('page/'))"),
              "true")
        << "no script came with the text";
    screenshot(mView->widget(), "page_box_hostile_driver");
}

} // namespace
} // namespace wynfc::shell::test
