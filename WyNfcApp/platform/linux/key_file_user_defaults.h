#pragma once

#include "platform/user_defaults.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace wynfc {

// Settings in a key file, by default $XDG_CONFIG_HOME/wynfc/settings.ini (~/.config without
// XDG_CONFIG_HOME). The file is read once, when the settings are made; each change writes it
// whole to a temporary file that then replaces it, so a crash mid-write never loses a value.
// A file that cannot be read or parsed counts as empty, with one log line, and the next
// change replaces it. Thread-safe.
class KeyFileUserDefaults final : public UserDefaults {
public:
    static constexpr const char* kLogTag = "------ KeyFileUserDefaults ------";

    // The settings file for the environment as it is now.
    static std::filesystem::path defaultPath();

    KeyFileUserDefaults();
    explicit KeyFileUserDefaults(std::filesystem::path file);
    ~KeyFileUserDefaults() override;

    KeyFileUserDefaults(const KeyFileUserDefaults&) = delete;
    KeyFileUserDefaults& operator=(const KeyFileUserDefaults&) = delete;

    bool boolForKey(const std::string& key) const override;
    void setBool(const std::string& key, bool value) override;

    const std::filesystem::path& file() const { return file_; }

private:
    struct KeyFile;

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    std::unique_ptr<KeyFile> values_;
};

} // namespace wynfc
