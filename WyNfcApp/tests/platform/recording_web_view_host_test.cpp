#include "platform/sim/event_loop.h"
#include "platform/sim/recording_web_view_host.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace wynfc {
namespace {

// Plays the native side. Touched only on the main queue; an event off it is marked.
class Receiver : public ScriptMessageHandler, public WebNavigationDelegate {
public:
    explicit Receiver(const MainQueue& queue) : queue_(queue) {}

    void didReceiveScriptMessage(const ScriptMessage& message) override {
        const std::string* text = message.text();
        record(message.name + "=" +
               (text ? *text : "<" + std::get<ScriptMessage::NonText>(message.body).description + ">"));
    }
    void didStartProvisionalNavigation() override { record("started"); }
    void didFinishNavigation() override { record("finished"); }

    std::vector<std::string> events;

private:
    void record(const std::string& event) {
        events.push_back(queue_.isMainThread() ? event : "off " + event);
    }
    const MainQueue& queue_;
};

TEST(RecordingWebViewHost, DeliversPageMessagesAndNavigationOnTheMainQueueAndRecordsScripts) {
    EventLoop main;
    RecordingWebViewHost host(main);
    auto receiver = std::make_shared<Receiver>(main);
    host.addScriptMessageHandler(receiver, "requestNativeAsync");
    host.setNavigationDelegate(receiver);

    host.load("file:///index.html", Millis{60'000});
    EXPECT_TRUE(host.postText("requestNativeAsync", "GET_VERSION:"));
    EXPECT_TRUE(host.postMessage(ScriptMessage{"requestNativeAsync", ScriptMessage::NonText{"42"}}));
    EXPECT_FALSE(host.postText("otherHandler", "GET_VERSION:"));
    host.setLoadsFinishByThemselves(false);
    host.load("file:///index.html", Millis{60'000});
    main.sync([&] {
        EXPECT_EQ(receiver->events,
                  (std::vector<std::string>{"started", "finished", "requestNativeAsync=GET_VERSION:",
                                            "requestNativeAsync=<42>", "started"}));
    });

    // The host does not keep the receiver alive.
    receiver.reset();
    EXPECT_TRUE(host.postText("requestNativeAsync", "HIDE_APP:"));
    host.finishNavigation();
    main.waitIdle();

    // Scripts are recorded in order; those evaluated off the main queue are counted.
    std::vector<std::string> observed; // the observer runs on the evaluating thread
    host.setScriptObserver([&](const std::string& script) { observed.push_back(script); });
    main.sync([&] { host.evaluateScript("on main"); });
    host.evaluateScript("from a worker");
    EXPECT_EQ(host.scriptsOffMainQueue(), 1);
    EXPECT_EQ(host.scripts(), (std::vector<std::string>{"on main", "from a worker"}));
    EXPECT_EQ(observed, host.scripts());
}

} // namespace
} // namespace wynfc
