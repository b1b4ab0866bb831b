#pragma once

#include "platform/bundle.h"
#include "platform/file_chooser.h"
#include "platform/mail_composer.h"
#include "platform/user_defaults.h"
#include "readers/reader_platform.h"
#include "work/my_tab_data.h"
#include "work/work_page.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace wynfc::shell {

// What every page of the application is given: the platform's services, the readers, and
// the shared tab bar flag.
struct ShellContext {
    std::shared_ptr<const Bundle> bundle;
    std::shared_ptr<UserDefaults> userDefaults;
    std::shared_ptr<MailComposer> mailComposer;
    // The file dialogs of the work page's profile requests.
    std::shared_ptr<FileChooser> fileChooser;
    ReaderPlatform platform;
    std::shared_ptr<MyTabData> tabData = std::make_shared<MyTabData>();
    // Where feedback mail goes.
    std::string feedbackRecipient = "feedback@wynfc.example";
    // Brings the next simulated driver onto the readers when a page is done with one
    // ("NEXT_DRIVER"); empty with real readers.
    std::function<void()> nextDriver;
    // Every work page opened, so that the application can let their last jobs end before
    // it quits.
    std::vector<std::weak_ptr<WorkPage>> openedPages;
};

} // namespace wynfc::shell
