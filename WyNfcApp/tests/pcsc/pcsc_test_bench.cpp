#include "pcsc_test_bench.h"

#include <PCSC/winscard.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace wynfc::test {
namespace {

constexpr const char* kSocketFolder = "/run/pcscd";
constexpr const char* kSocketName = "pcscd.comm";

// Waits, sleeping in poll(), until the daemon's socket exists.
bool waitForSocket(std::chrono::milliseconds limit) {
    const int watch = inotify_init1(IN_CLOEXEC);
    if (watch < 0) {
        return false;
    }
    inotify_add_watch(watch, kSocketFolder, IN_CREATE | IN_MOVED_TO);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool found = false;
    while (!(found = std::filesystem::exists(std::filesystem::path(kSocketFolder) / kSocketName))) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd events{watch, POLLIN, 0};
        if (poll(&events, 1, static_cast<int>(left.count())) > 0) {
            char buffer[4096];
            [[maybe_unused]] const ssize_t ignored = read(watch, buffer, sizeof buffer);
        }
    }
    close(watch);
    return found;
}

} // namespace

PrivatePcscd::PrivatePcscd(Readers readers) {
    if (std::getenv("WYNFC_PRIVATE_PCSC") == nullptr) {
        throw std::runtime_error("the PC/SC tests run inside scripts/with-private-pcscd");
    }
    if (access("/usr/sbin/pcscd", X_OK) != 0) {
        throw std::runtime_error("pcscd is missing (scripts/bootstrap installs it)");
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "wynfc_pcscd_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    mFolder = pattern;
    if (readers == Readers::Virtual) {
        std::ofstream(mFolder / "vpcd") << "FRIENDLYNAME \"Virtual PCD\"\n"
                                           "DEVICENAME /dev/null:0x8C7B\n"
                                           "LIBPATH /usr/lib/pcsc/drivers/serial/libifdvpcd.so\n"
                                           "CHANNELID 0x8C7B\n";
    }
    // The daemon leaves its socket behind when killed; a new one must not find it.
    std::filesystem::remove(std::filesystem::path(kSocketFolder) / kSocketName);

    const std::string folder = mFolder.string();
    const bool showLog = std::getenv("WYNFC_TEST_LOG") != nullptr;
    std::vector<const char*> argv{"/usr/sbin/pcscd", "--foreground", "--config", folder.c_str()};
    if (showLog) {
        argv.push_back("--debug");
    }
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    mPid = fork();
    if (mPid < 0) {
        throw std::runtime_error("cannot start pcscd");
    }
    if (mPid == 0) {
        // Only async-signal-safe calls here: the test has threads.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        if (!showLog) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execv(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    if (!waitForSocket(kPatience)) {
        stop();
        throw std::runtime_error("pcscd did not open its socket");
    }
    // The daemon creates its socket once the configured readers are attached, so the
    // virtual reader's slots are listening now.
    PcscTagReaderService service;
    if (!service.serviceRunning() ||
        service.readerNames().size() != (readers == Readers::Virtual ? 2U : 0U)) {
        stop();
        throw std::runtime_error(readers == Readers::Virtual ? "pcscd does not list the two virtual readers"
                                                             : "pcscd does not answer, or lists readers");
    }
}

PrivatePcscd::~PrivatePcscd() {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(mFolder, ignored);
}

void PrivatePcscd::stop() {
    if (mPid <= 0) {
        return;
    }
    kill(mPid, SIGTERM);
    int status = 0;
    waitpid(mPid, &status, 0);
    mPid = -1;
}

bool waitForReader(const std::string& reader, bool withCard) {
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
        return false;
    }
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    bool reached = false;
    while (!reached && std::chrono::steady_clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (SCardGetStatusChange(context, static_cast<DWORD>(left.count()), &state, 1) != SCARD_S_SUCCESS) {
            break;
        }
        reached = ((state.dwEventState & SCARD_STATE_PRESENT) != 0U) == withCard;
        state.dwCurrentState = state.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    }
    SCardReleaseContext(context);
    return reached;
}

std::shared_ptr<VirtualTag> sampleTag(const std::string& name) {
    return VirtualTag::load(std::filesystem::path(WYNFC_RESOURCES_DIR) / "samples" / (name + ".json"));
}

} // namespace wynfc::test
