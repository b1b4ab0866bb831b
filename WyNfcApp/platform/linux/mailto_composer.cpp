#include "platform/linux/mailto_composer.h"

#include "platform/console_log.h"
#include "platform/linux/mailto_uri.h"

#include <gio/gio.h>

#include <string>

namespace wynfc {

bool MailtoComposer::canSendMail() const {
    GAppInfo* handler = g_app_info_get_default_for_uri_scheme("mailto");
    if (handler == nullptr) {
        return false;
    }
    g_object_unref(handler);
    return true;
}

void MailtoComposer::compose(const MailMessage& message) {
    if (!canSendMail()) {
        logLine(kLogTag, "No program handles mailto: links: the mail is not shown");
        return;
    }
    const std::string uri = mailtoUri(message);
    GError* error = nullptr;
    if (!g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error)) {
        logLine(kLogTag, std::string("The mail program did not start: ") + error->message);
        g_error_free(error);
    }
}

} // namespace wynfc
