#pragma once

#include "platform/ble_peripheral.h"
#include "work/work_page_state.h"

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <vector>

namespace wynfc::shell {

// The Bluetooth device sheet: the readers found, a checkmark on the connected one, the
// Bluetooth prompts, CANCEL (leaves the page) and OK.
class DeviceSheet : public Gtk::Box {
public:
    struct Actions {
        std::function<void(const std::shared_ptr<Peripheral>&)> connect;
        std::function<void()> cancel;
        std::function<void()> ok;
    };

    explicit DeviceSheet(Actions actions);

    // The readers and which one is connected, and the page's prompts.
    void show(const std::vector<std::shared_ptr<Peripheral>>& peripherals,
              const std::shared_ptr<Peripheral>& connected, bool isConnected, const WorkPageState& state);

    // For tests: the rows as shown ("NAME" and whether checked), and picking one.
    struct Row {
        std::string name;
        bool checked = false;
    };
    std::vector<Row> rows() const;
    void activateRow(std::size_t index);
    std::string prompt() const { return mPrompt.get_visible() ? mPrompt.get_text() : ""; }
    Gtk::Button& cancelButton() { return mCancel; }
    Gtk::Button& okButton() { return mOk; }

private:
    Actions mActions;
    Gtk::Box mPanel{Gtk::Orientation::VERTICAL, 14};
    Gtk::Label mTitle;
    Gtk::Label mSearching;
    Gtk::Label mChoose;
    Gtk::ListBox mList;
    Gtk::Label mPrompt;
    Gtk::Box mButtons{Gtk::Orientation::HORIZONTAL, 12};
    Gtk::Button mCancel{"CANCEL"};
    Gtk::Button mOk{"OK"};
    std::vector<std::shared_ptr<Peripheral>> mPeripherals;
    std::vector<Row> mRows;
};

} // namespace wynfc::shell
