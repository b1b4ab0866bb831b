#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace wynfc {

// What a file dialog shows.
struct FileChooserRequest {
    std::string title;
    // The name the save dialog proposes; open dialogs ignore it.
    std::string suggestedName;
    // One filter: its name ("Configuration profiles") and a glob pattern ("*.json").
    std::string filterName;
    std::string filterPattern;
};

// The desktop's file dialogs: the user picks a file to open or a place to save one.
// Used on the main queue; `done` runs once, later, on the main queue, with the chosen file
// as an absolute path, or nothing when the user closed the dialog without choosing.
class FileChooser {
public:
    using Done = std::function<void(std::optional<std::filesystem::path>)>;

    virtual ~FileChooser() = default;

    virtual void chooseFileToOpen(const FileChooserRequest& request, Done done) = 0;
    virtual void chooseFileToSave(const FileChooserRequest& request, Done done) = 0;
};

} // namespace wynfc
