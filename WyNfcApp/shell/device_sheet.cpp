#include "shell/device_sheet.h"

#include "shell/accessible_name.h"
#include "shell/alert_panel.h"

#include <algorithm>
#include <cctype>

namespace wynfc::shell {
namespace {

std::string upperCaseName(const Peripheral& peripheral) {
    std::string name = peripheral.name().value_or(peripheral.identifier());
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return name;
}

} // namespace

DeviceSheet::DeviceSheet(Actions actions)
    : Gtk::Box(Gtk::Orientation::VERTICAL), mActions(std::move(actions)) {
    mTitle.set_text("Connect Bluetooth Device");
    mTitle.add_css_class("sheet-title");
    mTitle.set_xalign(0);
    mSearching.set_text("Looking for readers nearby. Switch the reader on and keep it close.");
    mChoose.set_text("Choose your reader to connect to it; a checkmark shows the one connected.");
    mChoose.add_css_class("hint");
    mChoose.set_xalign(0);
    mChoose.set_wrap(true);
    mSearching.add_css_class("hint");
    mSearching.set_xalign(0);
    mSearching.set_wrap(true);
    mList.set_selection_mode(Gtk::SelectionMode::NONE);
    mList.set_activate_on_single_click(true);
    mList.add_css_class("devices");
    mList.signal_row_activated().connect([this](Gtk::ListBoxRow* row) { activateRow(row->get_index()); });
    auto* scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroll->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    scroll->set_vexpand(true);
    scroll->set_child(mList);
    mPrompt.add_css_class("prompt");
    mPrompt.set_wrap(true);
    mPrompt.set_xalign(0);
    mCancel.add_css_class("sheet-button");
    mCancel.add_css_class("sheet-cancel");
    mOk.add_css_class("sheet-button");
    mOk.add_css_class("sheet-ok");
    mCancel.signal_clicked().connect([this] { mActions.cancel(); });
    mOk.signal_clicked().connect([this] { mActions.ok(); });
    mButtons.set_halign(Gtk::Align::END);
    mButtons.append(mCancel);
    mButtons.append(mOk);
    mPanel.append(mTitle);
    mPanel.append(mPrompt);
    mPanel.append(mSearching);
    mPanel.append(mChoose);
    mPanel.append(*scroll);
    mPanel.append(mButtons);
    dressAsCover(*this, mPanel, 0);
}

void DeviceSheet::show(const std::vector<std::shared_ptr<Peripheral>>& peripherals,
                       const std::shared_ptr<Peripheral>& connected, bool isConnected,
                       const WorkPageState& state) {
    std::vector<Row> rows;
    for (const auto& peripheral : peripherals) {
        rows.push_back({upperCaseName(*peripheral), isConnected && peripheral == connected});
    }
    const bool sameRows =
        peripherals == mPeripherals &&
        std::equal(rows.begin(), rows.end(), mRows.begin(), mRows.end(),
                   [](const Row& a, const Row& b) { return a.name == b.name && a.checked == b.checked; });
    if (!sameRows) {
        while (Gtk::Widget* child = mList.get_first_child()) {
            mList.remove(*child);
        }
        for (const Row& row : rows) {
            auto* line = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
            line->add_css_class("device-row");
            auto* name = Gtk::make_managed<Gtk::Label>(row.name);
            name->set_xalign(0);
            name->set_hexpand(true);
            line->append(*name);
            auto* mark = Gtk::make_managed<Gtk::Label>(row.checked ? "✓" : "");
            mark->add_css_class("checkmark");
            line->append(*mark);
            auto* listRow = Gtk::make_managed<Gtk::ListBoxRow>();
            listRow->set_child(*line);
            setAccessibleName(*listRow, row.name);
            mList.append(*listRow);
        }
        mPeripherals = peripherals;
        mRows = rows;
    }
    const bool prompting = state.mShowBLEUnAuth || state.mShowBLEDisable;
    mSearching.set_visible(peripherals.empty() && !prompting);
    mChoose.set_visible(!peripherals.empty());
    if (state.mShowBLEUnAuth) {
        mPrompt.set_text("Please grant Bluetooth access to App.");
    } else if (state.mShowBLEDisable) {
        mPrompt.set_text("Please enable Bluetooth.");
    }
    mPrompt.set_visible(prompting);
    if (isConnected) {
        mOk.add_css_class("connected");
    } else {
        mOk.remove_css_class("connected");
    }
}

std::vector<DeviceSheet::Row> DeviceSheet::rows() const {
    return mRows;
}

void DeviceSheet::activateRow(std::size_t index) {
    if (index < mPeripherals.size() && mActions.connect) {
        mActions.connect(mPeripherals[index]);
    }
}

} // namespace wynfc::shell
