#include "cli/library_output.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace wynfc::cli {

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    char path[] = "/tmp/wynfc-library-XXXXXX";
    mFile = mkstemp(path);
    if (mFile < 0) {
        return; // nothing captured: the lines stay on standard output
    }
    unlink(path);
    mSaved = dup(STDOUT_FILENO);
    dup2(mFile, STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture() {
    stop();
}

std::string StdoutCapture::stop() {
    if (mSaved < 0) {
        return {};
    }
    std::fflush(stdout);
    dup2(mSaved, STDOUT_FILENO);
    close(mSaved);
    mSaved = -1;
    std::string text;
    char buffer[4096];
    lseek(mFile, 0, SEEK_SET);
    for (ssize_t n; (n = read(mFile, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<size_t>(n));
    }
    close(mFile);
    mFile = -1;
    return text;
}

} // namespace wynfc::cli
