#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace wynfc {

// The resources delivered with the application, and its version.
class Bundle {
public:
    virtual ~Bundle() = default;

    // The file of resource `name` with `extension` (without the dot), if the application
    // has one.
    virtual std::optional<std::filesystem::path> pathForResource(const std::string& name,
                                                                 const std::string& extension) const = 0;

    // The short version text such as "1.0.0", if the application states one.
    virtual std::optional<std::string> shortVersion() const = 0;
};

} // namespace wynfc
