#pragma once

#include "readers/reader_contract.h"
#include "shell/button_item.h"
#include "shell/shell_context.h"

#include <gtkmm.h>

#include <functional>
#include <memory>

namespace wynfc::shell {

// The home tab: one card per reader mode. "NFC" only while the machine has a tag reader:
// the page watches the tag reader service, and shows or hides the card on the main queue as
// readers are attached and detached.
class HomePage : public Gtk::Box {
public:
    HomePage(const ShellContext& context, std::function<void(ReaderMode)> openWorkPage);
    ~HomePage() override;

    // Shows or hides the "NFC" card by the tag reader's availability now.
    void refresh();

    // Emitted on the main queue after the card was refreshed because the tag reader's
    // availability may have changed.
    sigc::signal<void()>& signalReadersChanged() { return mReadersChanged; }

    CardButton& nfcCard() { return mNfc; }
    CardButton& bluetoothCard() { return mBluetooth; }

private:
    std::shared_ptr<TagReaderService> mTagReader;
    Gtk::Label mTitle;
    CardButton mNfc;
    CardButton mBluetooth;
    sigc::signal<void()> mReadersChanged;
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
    // Ended first (by the destructor), so that its thread calls nothing of a page that is going.
    std::unique_ptr<AvailabilityWatch> mReaderWatch;
};

} // namespace wynfc::shell
