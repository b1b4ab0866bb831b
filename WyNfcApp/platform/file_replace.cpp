#include "platform/file_replace.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wynfc {
namespace {

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

int replaceFileContents(const std::filesystem::path& file, std::string_view text) {
    const std::filesystem::path target = writtenFile(file);
    std::filesystem::path temporary;
    const int fd = createTemporaryBeside(target, temporary);
    if (fd < 0) {
        return errno;
    }
    const auto discard = [&](int error, bool open) {
        if (open) {
            ::close(fd);
        }
        ::unlink(temporary.c_str());
        return error;
    };
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0 && ::fchmod(fd, existing.st_mode & 07777) != 0) {
        return discard(errno, true);
    }
    if (!writeAll(fd, text) || ::fsync(fd) != 0) {
        return discard(errno, true);
    }
    // A failed close can mean that written data never reached the file.
    if (::close(fd) != 0) {
        return discard(errno, false);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        return discard(errno, false);
    }
    // The rename itself reaches the disk with the folder.
    if (const int folder = ::open(target.parent_path().empty() ? "." : target.parent_path().c_str(),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return 0;
}

} // namespace wynfc
