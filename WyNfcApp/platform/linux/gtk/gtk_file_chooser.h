#pragma once

#include "platform/file_chooser.h"

#include <functional>
#include <map>

namespace Gtk {
class Window;
}

typedef struct _GtkFileChooserNative GtkFileChooserNative;

namespace wynfc {

// The desktop's own file dialogs (GtkFileChooserNative: the desktop portal where there is
// one, GTK's dialog elsewhere), modal and transient for the window `parent` gives when a
// dialog opens. A dialog starts in the folder of the last file chosen through it, else in
// the user's home folder. A chosen file that has no local path (a remote location) is answered as no
// file, with a log line. GTK main thread only; destroying the chooser closes its open
// dialogs, whose answers are then dropped.
class GtkNativeFileChooser final : public FileChooser {
public:
    static constexpr const char* TAG = "------ FileChooser ------";
    using ParentWindow = std::function<Gtk::Window*()>;

    explicit GtkNativeFileChooser(ParentWindow parent);
    ~GtkNativeFileChooser() override;

    GtkNativeFileChooser(const GtkNativeFileChooser&) = delete;
    GtkNativeFileChooser& operator=(const GtkNativeFileChooser&) = delete;

    void chooseFileToOpen(const FileChooserRequest& request, Done done) override;
    void chooseFileToSave(const FileChooserRequest& request, Done done) override;

    // Dialogs shown and not answered yet.
    int openDialogs() const { return static_cast<int>(mOpen.size()); }

private:
    void show(bool save, const FileChooserRequest& request, Done done);
    void answer(GtkFileChooserNative* dialog, int response);

    ParentWindow mParent;
    std::map<GtkFileChooserNative*, Done> mOpen;
    std::filesystem::path mLastFolder;
};

} // namespace wynfc
