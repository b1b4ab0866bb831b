#include "work/profile_files.h"

#include "platform/file_replace.h"

#include <cerrno>
#include <cstdint>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wynfc {
namespace {

std::string reason(int error) {
    return std::system_category().message(error);
}

ProfileFileOutcome failure(std::string message) {
    return ProfileFileOutcome{false, {}, std::move(message)};
}

// Closes the descriptor when it goes out of scope, unless it was closed already.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : mFd(fd) {}
    ~FileDescriptor() {
        if (mFd >= 0) {
            ::close(mFd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return mFd; }
    // Closes now; a failed close can mean that written data never reached the file.
    bool close() {
        const int fd = mFd;
        mFd = -1;
        return ::close(fd) == 0;
    }

private:
    int mFd;
};

} // namespace

bool isUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80; // the range of the second byte
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
            high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
        } else {
            return false;
        }
        if (text.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            const unsigned char min = k == 1 ? low : 0x80;
            const unsigned char max = k == 1 ? high : 0xBF;
            if (next < min || next > max) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

ProfileFileOutcome saveProfileFile(const std::filesystem::path& file, std::string_view text) {
    if (const int error = replaceFileContents(file, text); error != 0) {
        return failure("Could not save " + file.string() + ": " + reason(error));
    }
    return ProfileFileOutcome{true, {}, {}};
}

ProfileFileOutcome loadProfileFile(const std::filesystem::path& file) {
    const auto couldNotRead = [&](int error) {
        return failure("Could not read " + file.string() + ": " + reason(error));
    };
    const auto tooLarge = [] { return failure("The file is larger than 1 MiB; a profile is much smaller."); };
    const auto notText = [] { return failure("The file is not a text file."); };

    // Without O_NONBLOCK a pipe would hold the open until a writer came.
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        return couldNotRead(errno);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return couldNotRead(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return couldNotRead(EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        return notText();
    }
    if (static_cast<std::uintmax_t>(info.st_size) > kMaxProfileFileSize) {
        return tooLarge();
    }
    // The size may change while reading: stop as soon as the text passes the limit.
    std::string text;
    text.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[16384];
    for (;;) {
        const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return couldNotRead(errno);
        }
        if (got == 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(got));
        if (text.size() > kMaxProfileFileSize) {
            return tooLarge();
        }
    }
    if (text.find('\0') != std::string::npos || !isUtf8(text)) {
        return notText();
    }
    return ProfileFileOutcome{true, std::move(text), {}};
}

} // namespace wynfc
