#pragma once

#include "shell/home_page.h"
#include "shell/setting_page.h"
#include "shell/shell_context.h"
#include "shell/work_page_view.h"

#include <gtkmm.h>

#include <memory>

namespace wynfc::shell {

// The tab view: "Home" and "Setting", in that order, with the tab bar at the bottom. A work
// page opens over the home tab; the tab bar follows MyTabData.showTab.
class ContentView : public Gtk::Box {
public:
    enum class Tab { Home, Setting };

    ContentView(ShellContext& context, Gtk::Overlay& covers);
    ~ContentView() override;

    void selectTab(Tab tab);
    Tab selectedTab() const;
    void openWorkPage(ReaderMode mode);

    HomePage& homePage() { return mHome; }
    SettingPage& settingPage() { return mSetting; }
    // The open work page, if any.
    WorkPageView* workPageView() { return mWorkPage.get(); }
    Gtk::Box& tabBar() { return mTabBar; }
    Gtk::Button& tabButton(Tab tab) { return tab == Tab::Home ? mHomeTab : mSettingTab; }

    // Leaves an open work page, as its own close request would (the application closing).
    void closeWorkPage();

private:
    void showTabBar(bool shown);
    void removeWorkPage();

    ShellContext& mContext;
    Gtk::Stack mTabs;
    Gtk::Stack mHomeNavigation;
    HomePage mHome;
    SettingPage mSetting;
    std::unique_ptr<WorkPageView> mWorkPage;
    Gtk::Box mTabBar{Gtk::Orientation::HORIZONTAL, 0};
    Gtk::Button mHomeTab;
    Gtk::Button mSettingTab;
    Published<bool>::Subscription mShowTabSubscription;
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
};

} // namespace wynfc::shell
