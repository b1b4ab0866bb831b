#include "shell/shell_style.h"

#include <gtkmm.h>

namespace wynfc::shell {
namespace {

constexpr const char* kStyle = R"css(
window.wynfc, window.wynfc .page { background-color: #ffffff; color: #1c1c1e; }
.page-title { font-size: 22pt; font-weight: bold; }

/* Card rows */
button.card { background-image: none; background-color: rgb(238, 238, 238); border-radius: 16px;
              border: none; box-shadow: none; padding: 14px 16px; }
button.card:hover { background-color: rgb(228, 228, 228); }
button.card:active { background-color: rgb(218, 218, 218); }
box.card { background-color: rgb(238, 238, 238); border-radius: 16px; padding: 14px 16px; }
.card-title { font-size: 15pt; font-weight: bold; }
.card-subtitle { color: #5c5c60; }

/* Tab bar */
.tab-bar { border-top: 1px solid #d8d8dc; background-color: #f7f7f7; padding: 4px; }
.tab-bar button { background-image: none; background-color: transparent; border: none; box-shadow: none;
                  color: #8e8e93; padding: 4px 24px; }
.tab-bar button.selected { color: rgb(10, 89, 247); }

/* Covers: a dimmed layer over the window with a white panel on it */
.cover-dim { background-color: rgba(0, 0, 0, 0.2); }
.cover-panel { background-color: #ffffff; border-radius: 16px; padding: 24px;
               box-shadow: 0 4px 24px rgba(0, 0, 0, 0.25); }
.cover-title { font-size: 24pt; font-weight: bold; }
.sheet-title { font-size: 18pt; font-weight: bold; }
button.agree { background-image: none; background-color: transparent; border: none; box-shadow: none;
               color: rgb(232, 64, 38); font-size: 20pt; font-weight: bold; }
button.agree:hover { background-color: rgba(232, 64, 38, 0.08); }
.alert-title { font-size: 15pt; font-weight: bold; }
button.alert-button { background-image: none; background-color: transparent; border: none; box-shadow: none;
                      color: rgb(10, 89, 247); font-weight: bold; min-width: 96px; }
button.alert-button:hover { background-color: rgba(10, 89, 247, 0.08); }
button.alert-button:disabled { color: #b8b8bd; }
.cover-body { font-size: 12pt; }

/* Waiting popup and status line */
.status-line { border-radius: 8px; padding: 8px 12px; font-weight: bold; }
.error-detail { color: rgb(232, 64, 38); }
.hint { color: #5c5c60; }

/* The progress bar: a grey track, radius 16, with a fill of radius 10 */
progressbar.bar-progress trough { background-color: rgb(238, 238, 238); border-radius: 16px; border: none; }
progressbar.bar-progress progress { border-radius: 10px; border: none; margin: 0; min-width: 0; }
progressbar.bar-progress text { font-weight: bold; color: #1c1c1e; }

/* Device sheet */
list.devices { background-color: transparent; }
list.devices row { background-color: rgb(238, 238, 238); border-radius: 12px; margin-bottom: 8px; }
list.devices row:hover { background-color: rgb(226, 226, 230); }
.device-row { padding: 12px 16px; font-weight: bold; font-size: 13pt; }
.checkmark { color: rgb(10, 89, 247); font-weight: bold; font-size: 16pt; }
.prompt { color: rgb(232, 64, 38); font-weight: bold; }
button.sheet-button { background-image: none; border: none; box-shadow: none; font-weight: bold;
                      border-radius: 10px; padding: 8px 24px; }
button.sheet-cancel { background-color: rgb(238, 238, 238); color: #1c1c1e; }
button.sheet-ok { background-color: #8e8e93; color: #ffffff; }
button.sheet-ok.connected { background-color: rgb(10, 89, 247); }
)css";

} // namespace

void installShellStyle() {
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    if (auto settings = Gtk::Settings::get_default()) {
        settings->property_gtk_application_prefer_dark_theme() = false;
        settings->property_gtk_theme_name() = "Adwaita"; // never a dark variant of the desktop's theme
    }
    auto provider = Gtk::CssProvider::create();
    provider->load_from_data(kStyle);
    Gtk::StyleContext::add_provider_for_display(Gdk::Display::get_default(), provider,
                                                GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

} // namespace wynfc::shell
