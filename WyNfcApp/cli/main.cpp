// wynfc: reads and writes LED drivers from the command line, through the same work page,
// workflows and transports as the application, on the built-in simulated driver and reader.

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "platform/console_log.h"

#include <cstdio>
#include <iostream>
#include <streambuf>
#include <unistd.h>

#ifndef WYNFC_VERSION
#error "WYNFC_VERSION must give the program's version"
#endif

namespace {

// An output stream on a file descriptor: the command's results keep the real standard
// output to themselves.
class FdStreambuf : public std::streambuf {
public:
    explicit FdStreambuf(int fd) : mFd(fd) { setp(mBuffer, mBuffer + sizeof mBuffer); }
    ~FdStreambuf() override { sync(); }

protected:
    int overflow(int c) override {
        if (sync() != 0) {
            return traits_type::eof();
        }
        if (c != traits_type::eof()) {
            *pptr() = static_cast<char>(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    int sync() override {
        const char* data = pbase();
        while (data < pptr()) {
            const ssize_t written = write(mFd, data, static_cast<size_t>(pptr() - data));
            if (written <= 0) {
                return -1;
            }
            data += written;
        }
        setp(mBuffer, mBuffer + sizeof mBuffer);
        return 0;
    }

private:
    int mFd;
    char mBuffer[4096];
};

int run(const std::vector<std::string>& arguments, std::ostream& out) {
    using namespace wynfc::cli;
    const Options options = parseOptions(arguments);
    switch (options.command) {
    case Command::Read:
        return runRead(options, out);
    case Command::Write:
        return runWrite(options, out);
    case Command::Program:
        return runProgram(options, out);
    case Command::Dump:
        return runDump(options, out);
    case Command::Restore:
        return runRestore(options, out);
    case Command::Decode:
        return runDecode(options, out);
    case Command::Areas:
        return runAreas(options, out);
    case Command::Version:
        return runVersion(options, out);
    case Command::Help:
        out << usageText();
        return 0;
    case Command::ProgramVersion:
        out << "wynfc " << WYNFC_VERSION << '\n';
        return 0;
    }
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    // The library and the components log on standard output and standard error: both go to
    // standard error, and the results get the real standard output.
    std::fflush(stdout);
    const int resultsFd = dup(STDOUT_FILENO);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    FdStreambuf results(resultsFd);
    std::ostream out(&results);
    // The transports' own lines are for debugging: WYNFC_LOG=1 shows them.
    if (std::getenv("WYNFC_LOG") == nullptr) {
        wynfc::setLogSink([](const std::string&) {});
    }

    int status = 2;
    try {
        status = run(std::vector<std::string>(argv + 1, argv + argc), out);
    } catch (const wynfc::cli::UsageError& error) {
        std::cerr << "wynfc: " << error.what() << "\n(wynfc --help shows the usage)\n";
        status = 2;
    } catch (const std::exception& error) {
        std::cerr << "wynfc: " << error.what() << '\n';
        status = 1;
    }
    out.flush();
    return status;
}
