#pragma once

#include <string>

namespace wynfc::cli {

// The mapping library reports on standard output. While `work` runs, whatever the library
// prints goes to `captured` instead, so that it neither mixes with the command's output nor
// is lost when the caller wants to show it.
template <typename Work> auto withLibraryOutputCaptured(std::string& captured, Work work);

// Implementation detail of the above: redirects the process's standard output to a
// temporary file until stop() returns its content.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    std::string stop();

private:
    int mSaved = -1;
    int mFile = -1;
};

template <typename Work> auto withLibraryOutputCaptured(std::string& captured, Work work) {
    StdoutCapture capture;
    auto result = work();
    captured = capture.stop();
    return result;
}

} // namespace wynfc::cli
