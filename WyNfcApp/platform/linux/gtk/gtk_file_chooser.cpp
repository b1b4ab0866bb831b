#include "platform/linux/gtk/gtk_file_chooser.h"

#include "platform/console_log.h"

#include <gtkmm/window.h>

#include <gtk/gtk.h>

#include <utility>

namespace wynfc {
GtkNativeFileChooser::GtkNativeFileChooser(ParentWindow parent) : mParent(std::move(parent)) {}

GtkNativeFileChooser::~GtkNativeFileChooser() {
    for (auto& [dialog, done] : mOpen) {
        g_signal_handlers_disconnect_matched(dialog, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, this);
        gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(dialog));
        g_object_unref(dialog);
    }
}

void GtkNativeFileChooser::chooseFileToOpen(const FileChooserRequest& request, Done done) {
    show(false, request, std::move(done));
}

void GtkNativeFileChooser::chooseFileToSave(const FileChooserRequest& request, Done done) {
    show(true, request, std::move(done));
}

void GtkNativeFileChooser::show(bool save, const FileChooserRequest& request, Done done) {
    Gtk::Window* parent = mParent ? mParent() : nullptr;
    GtkFileChooserNative* dialog = gtk_file_chooser_native_new(
        request.title.c_str(), parent != nullptr ? parent->gobj() : nullptr,
        save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(dialog), TRUE);
    if (!request.filterPattern.empty()) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, request.filterName.c_str());
        gtk_file_filter_add_pattern(filter, request.filterPattern.c_str());
        gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), filter);
        g_object_unref(filter);
    }
    const std::filesystem::path folder = mLastFolder.empty() ? g_get_home_dir() : mLastFolder;
    GFile* start = g_file_new_for_path(folder.c_str());
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), start, nullptr);
    g_object_unref(start);
    if (save && !request.suggestedName.empty()) {
        gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), request.suggestedName.c_str());
    }
    mOpen.emplace(dialog, std::move(done));
    g_signal_connect(
        dialog, "response", G_CALLBACK(+[](GtkNativeDialog* native, int response, gpointer self) {
            static_cast<GtkNativeFileChooser*>(self)->answer(GTK_FILE_CHOOSER_NATIVE(native), response);
        }),
        this);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(dialog));
}

void GtkNativeFileChooser::answer(GtkFileChooserNative* dialog, int response) {
    const auto open = mOpen.find(dialog);
    if (open == mOpen.end()) {
        return;
    }
    Done done = std::move(open->second);
    mOpen.erase(open);
    std::optional<std::filesystem::path> chosen;
    if (response == GTK_RESPONSE_ACCEPT) {
        if (GFile* file = gtk_file_chooser_get_file(GTK_FILE_CHOOSER(dialog))) {
            if (char* path = g_file_get_path(file)) {
                chosen = std::filesystem::path(path);
                g_free(path);
                mLastFolder = chosen->parent_path();
            } else {
                char* uri = g_file_get_uri(file);
                logLine(TAG,
                        std::string("No local path for the chosen file ") + (uri != nullptr ? uri : "?"));
                g_free(uri);
            }
            g_object_unref(file);
        }
    }
    g_signal_handlers_disconnect_matched(dialog, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, this);
    g_object_unref(dialog);
    if (done) {
        done(std::move(chosen));
    }
}

} // namespace wynfc
