#include "platform/sim/event_loop.h"
#include "platform/sim/recording_web_view_host.h"
#include "web/js_controller.h"
#include "web/page_events.h"
#include "web/web_view.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace wynfc {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct RecordingHandler : WebViewHandlerProtocol {
    void handlePageRequest(const std::string& method, const std::string& data) override {
        requests.emplace_back(method, data);
    }
    std::vector<std::pair<std::string, std::string>> requests;
};

class PageBridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        controller->setDelegate(handler);
        view.makeView(host);
        view.makeView(host); // once only
        loop.waitIdle();
    }

    void post(ScriptMessage message) {
        host->postMessage(std::move(message));
        loop.waitIdle();
    }

    EventLoop loop;
    std::shared_ptr<RecordingWebViewHost> host = std::make_shared<RecordingWebViewHost>(loop);
    std::shared_ptr<JSController> controller = std::make_shared<JSController>();
    std::shared_ptr<RecordingHandler> handler = std::make_shared<RecordingHandler>();
    Published<bool> isLoaded{false};
    WebView view{"file:///index.html", controller, isLoaded};
};

TEST_F(PageBridgeTest, RequestsSplitAtTheFirstColon) {
    post({kRequestHandlerName, std::string("GET_VERSION:")});
    post({kRequestHandlerName, std::string("WRITE_DATA:1,2:[]")});
    post({kRequestHandlerName, std::string("get_version:x")});
    EXPECT_THAT(handler->requests, ElementsAre(std::pair<std::string, std::string>{"GET_VERSION", ""},
                                               std::pair<std::string, std::string>{"WRITE_DATA", "1,2:[]"},
                                               std::pair<std::string, std::string>{"get_version", "x"}));
}

TEST_F(PageBridgeTest, MalformedMessagesAreDropped) {
    post({kRequestHandlerName, std::string("GET_VERSION")});
    post({kRequestHandlerName, ScriptMessage::NonText{"42"}});
    controller->didReceiveScriptMessage({"otherHandler", std::string("GET_VERSION:")});
    EXPECT_THAT(handler->requests, IsEmpty());
    handler.reset(); // a delegate that is gone
    post({kRequestHandlerName, std::string("GET_VERSION:")});
    EXPECT_THAT(host->scripts(), IsEmpty());
}

TEST_F(PageBridgeTest, WebViewIsSetUpOnceAndFollowsNavigation) {
    ASSERT_EQ(host->loads().size(), 1U);
    EXPECT_EQ(host->loads()[0].url, "file:///index.html");
    EXPECT_EQ(host->loads()[0].timeout, Millis(60000));
    EXPECT_EQ(controller->webviewHandle(), host);
    EXPECT_TRUE(isLoaded.get());
    host->startNavigation();
    loop.waitIdle();
    EXPECT_FALSE(isLoaded.get());
}

TEST(WebViewTest, PageAddressIsAFileUrlOfTheAbsolutePath) {
    // Characters that would end or change the path are encoded, and so is every other byte.
    EXPECT_EQ(fileUrl("/opt/my pages/a#b?c%d+e/index.html"),
              "file:///opt/my%20pages/a%23b%3Fc%25d%2Be/index.html");
    EXPECT_EQ(fileUrl("/r\xC3\xA9sum\xC3\xA9/Az09-._~.html"), "file:///r%C3%A9sum%C3%A9/Az09-._~.html");
    EXPECT_EQ(fileUrl("index.html"), fileUrl(std::filesystem::current_path() / "index.html"));
}

TEST(PageEventsTest, ScriptTextsAreExact) {
    EXPECT_EQ(updateEventScript("spec", "{}"), "javascript:WyNfcEventCallback('UPDATE_EVENT','spec:{}')");
    EXPECT_EQ(eventScript("GET_VERSION_CALLBACK", "0.0.0"),
              "javascript:WyNfcEventCallback('GET_VERSION_CALLBACK','0.0.0')");
    EXPECT_EQ(notifyEventScript("WRITE_EVENT"),
              "javascript:WyNfcEventCallback('NOTIFY_EVENT','WRITE_EVENT')");
    EXPECT_EQ(readerTypeScript("BLE"), "window.readerType='BLE'");
    const std::string json = R"([{"arrayValue":"0x01,0x02,","dataType":"array","name":"gtin","value":0}])";
    EXPECT_EQ(updateEventScript("memory_bank_01_data", json),
              "javascript:WyNfcEventCallback('UPDATE_EVENT','memory_bank_01_data:" + json + "')");
}

TEST(PageEventsTest, PayloadsCannotLeaveTheirString) {
    EXPECT_EQ(escapeForSingleQuotes("a'b\\c\nd\re"), "a\\'b\\\\c\\nd\\re");
    EXPECT_EQ(escapeForSingleQuotes("x\xE2\x80\xA8y\xE2\x80\xA9z\xE2\x80\xA7"),
              "x\\u2028y\\u2029z\xE2\x80\xA7");
    EXPECT_EQ(eventScript("E", "');alert(1);//"), "javascript:WyNfcEventCallback('E','\\');alert(1);//')");
    // Hosts that play the page read events back exactly as sent.
    const std::string tricky = "a','b\\c'\nd\xE2\x80\xA8"
                               "e";
    const auto call = parseEventScript(eventScript("UPDATE_EVENT", tricky));
    ASSERT_TRUE(call.has_value());
    EXPECT_EQ(call->event, "UPDATE_EVENT");
    EXPECT_EQ(call->payload, tricky);
    EXPECT_FALSE(parseEventScript(readerTypeScript("NFC")).has_value());
    // An event whose escaped text holds "','" after a backslash (found by fuzz_event_script).
    const auto quoted = parseEventScript(eventScript("]',", "p"));
    ASSERT_TRUE(quoted.has_value());
    EXPECT_EQ(quoted->event, "]',");
    EXPECT_EQ(quoted->payload, "p");
    // The start's last quote is not also the end's first.
    EXPECT_FALSE(parseEventScript("javascript:WyNfcEventCallback(')").has_value());
    EXPECT_FALSE(parseEventScript("javascript:WyNfcEventCallback('E')").has_value());
}

} // namespace
} // namespace wynfc
