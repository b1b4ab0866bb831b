#include "linux_test_support.h"
#include "platform/console_log.h"
#include "platform/linux/mailto_composer.h"
#include "platform/linux/mailto_uri.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wynfc {
namespace {

using test::writeFile;

// GLib reads the desktop's folders once per process: each case needs a process of its own,
// as CTest runs them, and sets the environment before anything asks GLib.
class MailtoComposerTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::ScopedEnv dataHome{"XDG_DATA_HOME", (dir / "data").string()};
    test::ScopedEnv dataDirs{"XDG_DATA_DIRS", (dir / "system-data").string()};
    test::ScopedEnv configHome{"XDG_CONFIG_HOME", (dir / "config").string()};
    test::ScopedEnv configDirs{"XDG_CONFIG_DIRS", (dir / "system-config").string()};
    test::ScopedEnv desktop{"XDG_CURRENT_DESKTOP", std::nullopt};
    // A launch is announced on the session bus when there is one: there is none here, and no
    // way to start one.
    test::ScopedEnv sessionBus{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (dir / "no-bus").string()};
    test::ScopedEnv display{"DISPLAY", std::nullopt};
    std::filesystem::path delivered = dir / "delivered";

    void SetUp() override {
        std::filesystem::create_directories(dir / "system-data");
        std::filesystem::create_directories(dir / "system-config");
    }

    // A mail program that writes the URI it is given into the pipe `delivered`.
    void installMailProgram() {
        writeFile(dir / "deliver.sh", "printf '%s' \"$1\" > '" + delivered.string() + "'\n");
        writeFile(dir / "data" / "applications" / "wynfc-test-mail.desktop",
                  "[Desktop Entry]\nType=Application\nName=Test mail\nNoDisplay=true\n"
                  "Exec=/bin/sh " +
                      (dir / "deliver.sh").string() +
                      " %u\n"
                      "MimeType=x-scheme-handler/mailto;\n");
        writeFile(dir / "config" / "mimeapps.list",
                  "[Default Applications]\nx-scheme-handler/mailto=wynfc-test-mail.desktop\n");
        ASSERT_EQ(mkfifo(delivered.c_str(), 0600), 0);
    }

    // What the mail program wrote into the pipe; empty when it has not opened it in time.
    static std::string readDelivery(int fd, std::chrono::milliseconds timeout) {
        // Until a writer opens the pipe, poll sleeps: it reports neither data nor hang-up.
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(timeout.count())) <= 0) {
            return {};
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK); // now read up to its end
        std::string text;
        char buffer[4096];
        for (ssize_t got = 0; (got = read(fd, buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<std::size_t>(got));
        }
        return text;
    }
};

TEST_F(MailtoComposerTest, HandsTheExactUriToTheDesktopsMailProgram) {
    installMailProgram();
    MailtoComposer composer;
    ASSERT_TRUE(composer.canSendMail());

    const MailMessage message{{"support@example.com"}, "Feedback & more", "Grüße\nLine two = 100%"};
    const int fd = open(delivered.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    LogCapture log;
    composer.compose(message);
    const std::string uri = readDelivery(fd, std::chrono::seconds(20));
    close(fd);
    EXPECT_EQ(uri, mailtoUri(message));
    EXPECT_EQ(uri,
              "mailto:support@example.com?subject=Feedback%20%26%20more&body=Gr%C3%BC%C3%9Fe%0D%0ALine%20two%"
              "20%3D%20100%25");
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(MailtoComposerTest, WithoutAMailProgramItCannotSendAndComposeOnlyLogs) {
    MailtoComposer composer;
    EXPECT_FALSE(composer.canSendMail());
    LogCapture log;
    composer.compose({{"support@example.com"}, "Feedback", "Text"});
    EXPECT_EQ(log.count("No program handles mailto"), 1);
}

} // namespace
} // namespace wynfc
