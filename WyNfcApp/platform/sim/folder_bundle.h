#pragma once

#include "platform/bundle.h"

#include <filesystem>
#include <optional>
#include <string>

namespace wynfc {

// Resources are the files directly inside one folder: "index" with extension "html" is
// <folder>/index.html.
class FolderBundle final : public Bundle {
public:
    explicit FolderBundle(std::filesystem::path folder,
                          std::optional<std::string> shortVersion = std::nullopt);

    // Names that would leave the folder (a path separator, "." or "..") find nothing.
    std::optional<std::filesystem::path> pathForResource(const std::string& name,
                                                         const std::string& extension) const override;
    std::optional<std::string> shortVersion() const override { return shortVersion_; }

    const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path folder_;
    std::optional<std::string> shortVersion_;
};

} // namespace wynfc
