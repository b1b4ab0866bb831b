// How long a person waits from starting the application to a configuration page they can use.
// Each test case runs in a process of its own, started as the application is, so the time is
// counted from the process's start: loading the libraries, GTK, the address map, the window
// and the web engine with the page. Printed for the benchmark table (make bench), and held to
// a limit loose enough for a loaded test machine.

#include "shell_test_support.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace wynfc::shell::test {
namespace {

// Milliseconds since this process started, to the kernel's clock tick (10 ms at most).
double millisSinceProcessStart() {
    std::ifstream file("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The command name may hold spaces: the fields are counted after its closing parenthesis.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
    }
    const double startSeconds = std::stod(field) / static_cast<double>(sysconf(_SC_CLK_TCK));
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowSeconds = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    return (nowSeconds - startSeconds) * 1000.0;
}

class StartUpTime : public AppTest {};

TEST_F(StartUpTime, FromLaunchToTheConfigurationPageLoaded) {
    openWindow();
    const double windowShown = millisSinceProcessStart();
    content().openWorkPage(ReaderMode::NFC);
    WorkPageView* view = content().workPageView();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(runUntil([&] { return view->page()->snapshot().mIsLoaded; }, Millis{30000}, Millis{1}));
    const double pageLoaded = millisSinceProcessStart();
    std::printf("Start-up: window shown %.0f ms, configuration page loaded %.0f ms after launch\n",
                windowShown, pageLoaded);
    EXPECT_GT(pageLoaded, windowShown);
    EXPECT_LT(pageLoaded, 30000.0);
}

} // namespace
} // namespace wynfc::shell::test
