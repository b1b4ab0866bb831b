// Any message text from the page reaches the work page's request handling without harm:
// unknown commands are logged, malformed ones dropped, writes refused before a read.

#include "platform/console_log.h"
#include "platform/sim/event_loop.h"
#include "platform/sim/recording_web_view_host.h"
#include "work/work_page.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wynfc;
    static EventLoop mainQueue;
    static const auto page = [] {
        setLogSink([](const std::string&) {});
        WorkPageEnvironment environment;
        environment.platform.mainQueue = std::shared_ptr<MainQueue>(&mainQueue, [](MainQueue*) {});
        auto created = WorkPage::create(ReaderMode::NFC, environment);
        mainQueue.sync([&] { created->appear(); });
        return created;
    }();
    const std::string text(reinterpret_cast<const char*>(data), size);
    // Through the bridge, as the page would post it; write requests run on their own thread.
    mainQueue.sync([&] { page->jsController().didReceiveScriptMessage({"requestNativeAsync", text}); });
    page->waitForJobs();
    return 0;
}
