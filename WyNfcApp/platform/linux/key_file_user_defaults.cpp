#include "platform/linux/key_file_user_defaults.h"

#include "platform/console_log.h"

#include <glib.h>

#include <cstdlib>
#include <utility>

namespace wynfc {
namespace {

constexpr const char* kGroup = "Settings";

std::string takeMessage(GError* error) {
    std::string message = error->message;
    g_error_free(error);
    return message;
}

} // namespace

struct KeyFileUserDefaults::KeyFile {
    GKeyFile* values = g_key_file_new();

    KeyFile() = default;
    KeyFile(const KeyFile&) = delete;
    KeyFile& operator=(const KeyFile&) = delete;
    ~KeyFile() { g_key_file_free(values); }
};

std::filesystem::path KeyFileUserDefaults::defaultPath() {
    // Read from the environment each time rather than through g_get_user_config_dir, which
    // keeps the first answer for the life of the process. A relative XDG_CONFIG_HOME is
    // invalid and ignored, as the base directory convention says.
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::filesystem::path base = configHome != nullptr && configHome[0] == '/'
                                           ? std::filesystem::path(configHome)
                                           : std::filesystem::path(g_get_home_dir()) / ".config";
    return base / "wynfc" / "settings.ini";
}

KeyFileUserDefaults::KeyFileUserDefaults() : KeyFileUserDefaults(defaultPath()) {}

KeyFileUserDefaults::KeyFileUserDefaults(std::filesystem::path file)
    : file_(std::move(file)), values_(std::make_unique<KeyFile>()) {
    GError* error = nullptr;
    if (g_key_file_load_from_file(values_->values, file_.c_str(), G_KEY_FILE_NONE, &error)) {
        return;
    }
    const bool missing = g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT);
    const std::string message = takeMessage(error);
    if (!missing) {
        logLine(kLogTag, "Cannot use " + file_.string() + " (" + message +
                             "): every setting reads as never set until the next change replaces it");
    }
    values_ = std::make_unique<KeyFile>(); // a failed parse may have kept part of the file
}

KeyFileUserDefaults::~KeyFileUserDefaults() = default;

bool KeyFileUserDefaults::boolForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    GError* error = nullptr;
    const bool value = g_key_file_get_boolean(values_->values, kGroup, key.c_str(), &error) != FALSE;
    if (error == nullptr) {
        return value;
    }
    const bool invalid = g_error_matches(error, G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_INVALID_VALUE);
    const std::string message = takeMessage(error);
    if (invalid) {
        logLine(kLogTag, "The setting " + key + " in " + file_.string() + " is not true or false (" +
                             message + "): read as never set");
    }
    return false;
}

void KeyFileUserDefaults::setBool(const std::string& key, bool value) {
    std::lock_guard lock(mutex_);
    g_key_file_set_boolean(values_->values, kGroup, key.c_str(), value ? TRUE : FALSE);
    const std::string folder = file_.parent_path().string();
    if (!folder.empty() && g_mkdir_with_parents(folder.c_str(), 0700) != 0) {
        logLine(kLogTag, "Cannot create " + folder + ": the setting " + key + " is not saved");
        return;
    }
    // Through g_file_set_contents: a temporary file beside it, then a rename over it.
    GError* error = nullptr;
    if (!g_key_file_save_to_file(values_->values, file_.c_str(), &error)) {
        logLine(kLogTag, "Cannot save " + file_.string() + " (" + takeMessage(error) + "): the setting " +
                             key + " is kept for this run only");
    }
}

} // namespace wynfc
