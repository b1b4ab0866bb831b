#include "shell/content_view.h"

#include "shell/accessible_name.h"

namespace wynfc::shell {
namespace {

Gtk::Box* tabLabel(const char* iconName, const char* text) {
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
    auto* icon = Gtk::make_managed<Gtk::Image>();
    icon->set_from_icon_name(iconName);
    icon->set_pixel_size(20);
    box->append(*icon);
    box->append(*Gtk::make_managed<Gtk::Label>(text));
    return box;
}

} // namespace

ContentView::ContentView(ShellContext& context, Gtk::Overlay& covers)
    : Gtk::Box(Gtk::Orientation::VERTICAL), mContext(context),
      mHome(context, [this](ReaderMode mode) { openWorkPage(mode); }), mSetting(context, covers) {
    mHomeNavigation.add(mHome, "home");
    mTabs.add(mHomeNavigation, "Home");
    mTabs.add(mSetting, "Setting");
    mTabs.set_vexpand(true);
    mTabs.set_hexpand(true);
    append(mTabs);

    mHomeTab.set_child(*tabLabel("go-home-symbolic", "Home"));
    mSettingTab.set_child(*tabLabel("emblem-system-symbolic", "Setting"));
    setAccessibleName(mHomeTab, "Home");
    setAccessibleName(mSettingTab, "Setting");
    for (Gtk::Button* tab : {&mHomeTab, &mSettingTab}) {
        tab->set_hexpand(true);
        mTabBar.append(*tab);
    }
    mHomeTab.signal_clicked().connect([this] { selectTab(Tab::Home); });
    mSettingTab.signal_clicked().connect([this] { selectTab(Tab::Setting); });
    mTabBar.add_css_class("tab-bar");
    append(mTabBar);
    selectTab(Tab::Home);

    // showTab may change on any thread (the work page leaving); the bar follows on the main
    // queue, from the value as it is then.
    mShowTabSubscription = context.tabData->showTab.observe(
        [queue = context.platform.mainQueue, alive = std::weak_ptr<bool>(mAlive), view = this](const bool&) {
            queue->async([alive, view] {
                if (alive.lock()) {
                    view->showTabBar(view->mContext.tabData->showTab.get());
                }
            });
        });
    showTabBar(context.tabData->showTab.get());
}

ContentView::~ContentView() {
    *mAlive = false;
    mShowTabSubscription = {};
    closeWorkPage();
}

void ContentView::selectTab(Tab tab) {
    mTabs.set_visible_child(tab == Tab::Home ? "Home" : "Setting");
    mHomeTab.remove_css_class("selected");
    mSettingTab.remove_css_class("selected");
    tabButton(tab).add_css_class("selected");
    if (tab == Tab::Home) {
        mHome.refresh();
    }
}

ContentView::Tab ContentView::selectedTab() const {
    return mTabs.get_visible_child_name() == "Setting" ? Tab::Setting : Tab::Home;
}

void ContentView::openWorkPage(ReaderMode mode) {
    if (mWorkPage) {
        return;
    }
    // The view calls back only while it lives, and this view owns it.
    mWorkPage = std::make_unique<WorkPageView>(mode, mContext, [this] { removeWorkPage(); });
    mContext.openedPages.push_back(mWorkPage->page());
    mHomeNavigation.add(*mWorkPage, "work");
    mHomeNavigation.set_visible_child("work");
    mContext.tabData->showTab.set(false);
    mWorkPage->start();
}

void ContentView::closeWorkPage() {
    if (!mWorkPage) {
        return;
    }
    mWorkPage->page()->handlePageRequest("HIDE_APP", "");
    removeWorkPage();
}

void ContentView::removeWorkPage() {
    if (!mWorkPage) {
        return;
    }
    mHomeNavigation.set_visible_child("home");
    mHomeNavigation.remove(*mWorkPage);
    // A job that is still ending keeps the page alive on its own thread; the view goes now.
    mWorkPage.reset();
}

void ContentView::showTabBar(bool shown) {
    mTabBar.set_visible(shown);
}

} // namespace wynfc::shell
