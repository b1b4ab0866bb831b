#include "shell/home_page.h"

namespace wynfc::shell {
namespace {

std::optional<std::filesystem::path> icon(const ShellContext& context, const char* name) {
    return context.bundle ? context.bundle->pathForResource(name, "svg") : std::nullopt;
}

} // namespace

HomePage::HomePage(const ShellContext& context, std::function<void(ReaderMode)> openWorkPage)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 16), mTagReader(context.platform.tagReaderService),
      mNfc({"NFC", "General NFC function with Phone", icon(context, "ic_nfc")}),
      mBluetooth({"Bluetooth", "Connect to FEIG Smart HF-BLE", icon(context, "ic_bluetooth")}) {
    add_css_class("page");
    set_margin(16);
    set_halign(Gtk::Align::FILL);
    set_valign(Gtk::Align::START);
    mTitle.set_text("HOME");
    mTitle.add_css_class("page-title");
    mTitle.set_xalign(0);
    append(mTitle);
    append(mNfc);
    append(mBluetooth);
    mNfc.signal_clicked().connect([openWorkPage] { openWorkPage(ReaderMode::NFC); });
    mBluetooth.signal_clicked().connect([openWorkPage] { openWorkPage(ReaderMode::BLE); });
    refresh();
    // The watch calls on a thread of its own; the card follows on the main queue, from the
    // availability as it is then.
    if (mTagReader && context.platform.mainQueue) {
        mReaderWatch = mTagReader->watchAvailability(
            [queue = context.platform.mainQueue, alive = std::weak_ptr<bool>(mAlive), page = this] {
                queue->async([alive, page] {
                    if (alive.lock()) {
                        page->refresh();
                        page->mReadersChanged.emit();
                    }
                });
            });
    }
}

HomePage::~HomePage() {
    mReaderWatch.reset();
}

void HomePage::refresh() {
    mNfc.set_visible(mTagReader && mTagReader->readingAvailable());
}

} // namespace wynfc::shell
