#include "work/profile_files.h"

#include <atomic>
#include <cerrno>
#include <chrono>
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

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// A new, empty file next to `target`, named after it, that nobody else has opened.
int createTemporaryBeside(const std::filesystem::path& target, std::filesystem::path& temporary) {
    static std::atomic<unsigned> counter{0};
    // A name at most NAME_MAX long, whatever the target's name.
    const std::string stem = target.filename().string().substr(0, 200);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto unique =
            static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
            (static_cast<unsigned long long>(::getpid()) << 32) ^ counter.fetch_add(1);
        temporary =
            target.parent_path() / ("." + stem + "." + std::to_string(unique % 1000000007ULL) + ".tmp");
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

// The file a save writes: a symbolic link's target, so that the link stays.
std::filesystem::path writtenFile(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(file, error))) {
        return file;
    }
    const auto target = std::filesystem::weakly_canonical(file, error);
    return error ? file : target;
}

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
    const auto couldNotSave = [&](int error) {
        return failure("Could not save " + file.string() + ": " + reason(error));
    };
    const std::filesystem::path target = writtenFile(file);
    std::filesystem::path temporary;
    FileDescriptor fd(createTemporaryBeside(target, temporary));
    if (fd.get() < 0) {
        return couldNotSave(errno);
    }
    const auto discard = [&](int error) {
        ::unlink(temporary.c_str());
        return couldNotSave(error);
    };
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0 && ::fchmod(fd.get(), existing.st_mode & 07777) != 0) {
        return discard(errno);
    }
    if (!writeAll(fd.get(), text) || ::fsync(fd.get()) != 0) {
        return discard(errno);
    }
    if (!fd.close()) {
        return discard(errno);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        return discard(errno);
    }
    // The rename itself reaches the disk with the folder.
    if (const int folder = ::open(target.parent_path().empty() ? "." : target.parent_path().c_str(),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        folder >= 0) {
        ::fsync(folder);
        ::close(folder);
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
