#include "platform/linux/installed_data_dir.h"

#include <system_error>

namespace wynfc {

std::filesystem::path installedDataDirBeside(const std::filesystem::path& executable) {
    return executable.parent_path().parent_path() / "share" / "wynfc";
}

std::optional<std::filesystem::path> installedDataDirOfThisProgram() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    // Without /proc, or for a program whose file was deleted: no tree to look beside.
    if (error || !executable.is_absolute()) {
        return std::nullopt;
    }
    return installedDataDirBeside(executable);
}

} // namespace wynfc
