#include "private_bus.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace wynfc::test {
namespace {

std::string configText(const std::filesystem::path& socket, bool refuseBluez) {
    std::string text = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=)" +
                       socket.string() +
                       R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
)";
    if (refuseBluez) {
        text += "    <deny send_destination=\"org.bluez\"/>\n";
    }
    text += "  </policy>\n</busconfig>\n";
    return text;
}

} // namespace

PrivateBus::PrivateBus(Options options) {
    std::string pattern = (std::filesystem::temp_directory_path() / "wynfc_bus_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a folder for the bus");
    }
    folder_ = pattern;
    const auto config = folder_ / "bus.conf";
    std::ofstream(config) << configText(folder_ / "socket", options.refuseBluez);

    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot make a pipe");
    }
    // Everything the child needs is made before fork: after it only exec-safe calls.
    const std::string configArgument = "--config-file=" + config.string();
    const std::string printArgument = "--print-address=" + std::to_string(ready[1]);
    const std::string logPath = (folder_ / "daemon.log").string();
    std::vector<char*> argv{const_cast<char*>("dbus-daemon"),
                            const_cast<char*>(configArgument.c_str()),
                            const_cast<char*>("--nofork"),
                            const_cast<char*>("--nopidfile"),
                            const_cast<char*>(printArgument.c_str()),
                            nullptr};
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives the test
        fcntl(ready[1], F_SETFD, 0);      // the address is written here once the bus listens
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (log >= 0) {
            dup2(log, STDERR_FILENO); // the daemon's complaints go to its folder
        }
        execvp("dbus-daemon", argv.data());
        _exit(127);
    }
    close(ready[1]);
    if (pid_ < 0) {
        close(ready[0]);
        throw std::runtime_error("cannot start dbus-daemon");
    }
    std::string line;
    char c = 0;
    while (read(ready[0], &c, 1) == 1 && c != '\n') {
        line.push_back(c);
    }
    close(ready[0]);
    if (line.empty()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        std::filesystem::remove_all(folder_);
        throw std::runtime_error("dbus-daemon did not start (is the dbus-daemon package installed?)");
    }
    address_ = line;
}

PrivateBus::~PrivateBus() {
    kill(pid_, SIGTERM);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

} // namespace wynfc::test
