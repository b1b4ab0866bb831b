#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace wynfc {

// Configuration profiles are small JSON texts; anything larger is not one.
inline constexpr std::size_t kMaxProfileFileSize = 1024 * 1024;

// What became of a profile file: on success the text read (loading), else a sentence for
// the user that says what went wrong, with the system's reason where there is one.
struct ProfileFileOutcome {
    bool ok = false;
    std::string text;
    std::string message;
};

// Writes the text as the whole file, or leaves the file as it was: the text goes into a new
// file in the same folder, reaches the disk, and is then renamed over the file. No
// temporary file remains either way. A file that already exists keeps its permissions; a
// new one gets what the umask leaves of 0666. A symbolic link is written through, not
// replaced. Blocks on the disk: call it on a worker.
ProfileFileOutcome saveProfileFile(const std::filesystem::path& file, std::string_view text);

// Reads a profile: a regular file of at most kMaxProfileFileSize bytes of UTF-8 text
// without NUL characters. Never blocks on a pipe or device. Call it on a worker.
ProfileFileOutcome loadProfileFile(const std::filesystem::path& file);

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool isUtf8(std::string_view text);

} // namespace wynfc
