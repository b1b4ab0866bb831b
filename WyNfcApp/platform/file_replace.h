#pragma once

#include <filesystem>
#include <string_view>

namespace wynfc {

// Writes the text as the whole file, or leaves the file as it was: the text goes into a new
// file in the same folder, reaches the disk, and is then renamed over the file. No temporary
// file remains either way. A file that already exists keeps its permissions; a new one gets
// what the umask leaves of 0666. A symbolic link is written through, not replaced.
// Returns 0, or the errno of the step that failed (a full disk: ENOSPC). Blocks on the disk.
int replaceFileContents(const std::filesystem::path& file, std::string_view text);

} // namespace wynfc
