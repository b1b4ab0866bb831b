#include "platform/sim/folder_bundle.h"

#include <system_error>

namespace wynfc {

namespace {

bool isPlainName(const std::string& text) {
    return text != "." && text != ".." && text.find_first_of("/\\") == std::string::npos &&
           text.find('\0') == std::string::npos;
}

} // namespace

FolderBundle::FolderBundle(std::filesystem::path folder, std::optional<std::string> shortVersion)
    : folder_(std::move(folder)), shortVersion_(std::move(shortVersion)) {}

std::optional<std::filesystem::path> FolderBundle::pathForResource(const std::string& name,
                                                                   const std::string& extension) const {
    const std::string fileName = extension.empty() ? name : name + "." + extension;
    if (name.empty() || !isPlainName(fileName)) {
        return std::nullopt;
    }
    const auto path = folder_ / fileName;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return std::nullopt;
    }
    return path;
}

} // namespace wynfc
