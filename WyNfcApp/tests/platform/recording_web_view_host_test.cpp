#include "platform/sim/event_loop.h"
#include "platform/sim/recording_web_view_host.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wynfc {
namespace {

// Plays the native side: records what reaches it and whether it ran on the main queue.
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

    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    bool allOnMainQueue() const {
        std::lock_guard lock(mutex_);
        return allOnMain_;
    }

private:
    void record(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        allOnMain_ = allOnMain_ && queue_.isMainThread();
    }

    const MainQueue& queue_;
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    bool allOnMain_ = true;
};

TEST(RecordingWebViewHost, DeliversPageMessagesAndNavigationOnTheMainQueue) {
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
    main.waitIdle();

    EXPECT_EQ(receiver->events(),
              (std::vector<std::string>{"started", "finished", "requestNativeAsync=GET_VERSION:",
                                        "requestNativeAsync=<42>", "started"}));
    EXPECT_TRUE(receiver->allOnMainQueue());
    ASSERT_EQ(host.loads().size(), 2u);
    EXPECT_EQ(host.loads()[0].timeout, Millis{60'000});

    // The host does not keep the receiver alive.
    receiver.reset();
    EXPECT_TRUE(host.postText("requestNativeAsync", "HIDE_APP:"));
    host.finishNavigation();
    main.waitIdle();
}

TEST(RecordingWebViewHost, RecordsScriptsInOrderAndNotesThoseOffTheMainQueue) {
    EventLoop main;
    RecordingWebViewHost host(main);
    std::vector<std::string> observed; // the observer runs on the evaluating thread
    host.setScriptObserver([&](const std::string& script) { observed.push_back(script); });
    for (int i = 0; i < 3; ++i) {
        main.sync([&, i] { host.evaluateScript("script " + std::to_string(i)); });
    }
    EXPECT_EQ(host.scriptsOffMainQueue(), 0);
    host.evaluateScript("from a worker");
    EXPECT_EQ(host.scriptsOffMainQueue(), 1);
    EXPECT_EQ(host.scripts(),
              (std::vector<std::string>{"script 0", "script 1", "script 2", "from a worker"}));
    EXPECT_EQ(observed, host.scripts());

    host.setScriptObserver(nullptr);
    host.clearScripts();
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                main.sync([&] { host.evaluateScript("x"); });
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(host.scripts().size(), 200u);
    EXPECT_EQ(host.scriptsOffMainQueue(), 0);
}

} // namespace
} // namespace wynfc
