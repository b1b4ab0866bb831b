#pragma once

#include <gtkmm.h>

#include <filesystem>
#include <optional>
#include <string>

namespace wynfc::shell {

// What a card row shows: a title, a subtitle and, when given, an icon file.
struct ButtonItem {
    std::string title;
    std::string subTitle;
    std::optional<std::filesystem::path> icon;
};

// The card row's content, for a button or a plain card.
class ButtonItemContent : public Gtk::Box {
public:
    explicit ButtonItemContent(const ButtonItem& item);

    std::string title() const { return mTitle.get_text(); }
    std::string subTitle() const { return mSubTitle.get_text(); }
    void setSubTitle(const std::string& text) { mSubTitle.set_text(text); }

private:
    Gtk::Label mTitle;
    Gtk::Label mSubTitle;
};

// A card row a user presses.
class CardButton : public Gtk::Button {
public:
    explicit CardButton(const ButtonItem& item);
    const ButtonItemContent& content() const { return mContent; }

private:
    ButtonItemContent mContent;
};

// A card row that only shows (the version).
class Card : public Gtk::Box {
public:
    explicit Card(const ButtonItem& item);
    ButtonItemContent& content() { return mContent; }

private:
    ButtonItemContent mContent;
};

} // namespace wynfc::shell
