#pragma once

#include <filesystem>
#include <optional>

namespace wynfc {

// The resources of an installed tree: <prefix>/share/wynfc beside <prefix>/bin/<program>.
// Found from the program's own place, so that a tree works wherever it is unpacked.
std::filesystem::path installedDataDirBeside(const std::filesystem::path& executable);

// The same for the running program (/proc/self/exe, links resolved); empty when the kernel
// does not say where it is.
std::optional<std::filesystem::path> installedDataDirOfThisProgram();

} // namespace wynfc
