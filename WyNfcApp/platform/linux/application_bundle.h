#pragma once

#include "platform/bundle.h"
#include "platform/sim/folder_bundle.h"

#include <filesystem>
#include <optional>
#include <string>

namespace wynfc {

// The application's resources on Linux, from an installed or a built tree, and the
// version the build states. wynfc finds its resources the same way.
class ApplicationBundle final : public Bundle {
public:
    // Where resources may be, in the order they are tried.
    struct Places {
        std::optional<std::filesystem::path> dataDir; // named by the environment, taken as it is
        std::filesystem::path installed;  // ../share/wynfc beside the program, when it holds index.html
        std::filesystem::path sourceTree; // WyNfcApp/resources of the source tree
    };

    // The places of this build, with `overrideVariable` as the environment has it now (unset
    // or empty: none).
    static Places placesOfThisBuild(const char* overrideVariable = "WYNFC_DATA_DIR");
    static std::filesystem::path chooseFolder(const Places& places);

    ApplicationBundle();
    explicit ApplicationBundle(const Places& places);

    std::optional<std::filesystem::path> pathForResource(const std::string& name,
                                                         const std::string& extension) const override {
        return folder_.pathForResource(name, extension);
    }
    std::optional<std::string> shortVersion() const override { return folder_.shortVersion(); }

    const std::filesystem::path& folder() const { return folder_.folder(); }

private:
    FolderBundle folder_;
};

} // namespace wynfc
