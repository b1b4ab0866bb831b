#pragma once

#include "readers/reader_contract.h"
#include "shell/button_item.h"
#include "shell/shell_context.h"

#include <gtkmm.h>

#include <functional>
#include <memory>

namespace wynfc::shell {

// The home tab: one card per reader mode. "NFC" only while the machine has a tag reader.
class HomePage : public Gtk::Box {
public:
    HomePage(const ShellContext& context, std::function<void(ReaderMode)> openWorkPage);

    // Shows or hides the "NFC" card by the tag reader's availability now.
    void refresh();

    CardButton& nfcCard() { return mNfc; }
    CardButton& bluetoothCard() { return mBluetooth; }

private:
    std::shared_ptr<TagReaderService> mTagReader;
    Gtk::Label mTitle;
    CardButton mNfc;
    CardButton mBluetooth;
};

} // namespace wynfc::shell
