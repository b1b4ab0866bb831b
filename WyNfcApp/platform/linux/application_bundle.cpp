#include "platform/linux/application_bundle.h"

#include "platform/linux/installed_data_dir.h"

#include <cstdlib>
#include <system_error>

#if !defined(WYNFC_VERSION) || !defined(WYNFC_SOURCE_RESOURCES_DIR)
#error "the build must name the version and the source resources"
#endif

namespace wynfc {

ApplicationBundle::Places ApplicationBundle::placesOfThisBuild(const char* overrideVariable) {
    Places places{std::nullopt, installedDataDirOfThisProgram().value_or(std::filesystem::path()),
                  WYNFC_SOURCE_RESOURCES_DIR};
    const char* dataDir = std::getenv(overrideVariable);
    if (dataDir != nullptr && dataDir[0] != '\0') {
        places.dataDir = dataDir;
    }
    return places;
}

std::filesystem::path ApplicationBundle::chooseFolder(const Places& places) {
    if (places.dataDir) {
        return *places.dataDir; // asked for by name: a wrong folder should show, not be skipped
    }
    // Beside the program before the source tree, so that an installed or unpacked tree uses its
    // own files even while the tree it was built from is still on the machine; a program run
    // from the build folder has no share/wynfc beside it and takes the source tree's.
    // An installed tree counts only when it holds the page: a prefix left with other files
    // (an old install, a half-finished one) must not hide the resources of this build.
    std::error_code error;
    if (!places.installed.empty() &&
        std::filesystem::is_regular_file(places.installed / "index.html", error)) {
        return places.installed;
    }
    return places.sourceTree;
}

ApplicationBundle::ApplicationBundle() : ApplicationBundle(placesOfThisBuild()) {}

ApplicationBundle::ApplicationBundle(const Places& places)
    : folder_(chooseFolder(places), std::string(WYNFC_VERSION)) {}

} // namespace wynfc
