#include "platform/linux/application_bundle.h"

#include <cstdlib>
#include <system_error>

#if !defined(WYNFC_VERSION) || !defined(WYNFC_SOURCE_RESOURCES_DIR) || !defined(WYNFC_INSTALLED_DATA_DIR)
#error "the build must name the version, the source resources and the installed data directory"
#endif

namespace wynfc {

ApplicationBundle::Places ApplicationBundle::placesOfThisBuild() {
    Places places{std::nullopt, WYNFC_INSTALLED_DATA_DIR, WYNFC_SOURCE_RESOURCES_DIR};
    const char* dataDir = std::getenv("WYNFC_DATA_DIR");
    if (dataDir != nullptr && dataDir[0] != '\0') {
        places.dataDir = dataDir;
    }
    return places;
}

std::filesystem::path ApplicationBundle::chooseFolder(const Places& places) {
    if (places.dataDir) {
        return *places.dataDir; // asked for by name: a wrong folder should show, not be skipped
    }
    // An installed tree counts only when it holds the page: a prefix left with other files
    // (an old install, a half-finished one) must not hide the resources of this build.
    std::error_code error;
    if (std::filesystem::is_regular_file(places.installed / "index.html", error)) {
        return places.installed;
    }
    return places.sourceTree;
}

ApplicationBundle::ApplicationBundle() : ApplicationBundle(placesOfThisBuild()) {}

ApplicationBundle::ApplicationBundle(const Places& places)
    : folder_(chooseFolder(places), std::string(WYNFC_VERSION)) {}

} // namespace wynfc
