#include "platform/linux/gtk/webkit_web_view_host.h"

#include "platform/console_log.h"

#include <glib.h>
#include <webkit/webkit.h>

#include <utility>

namespace wynfc {
namespace {

constexpr const char* kTag = "------ WebView ------";

// Every web view of the process shares one session that keeps nothing on disk and sends
// every network request to a closed port on this machine: the page is a local file and
// must not reach the network, whatever it links to.
WebKitNetworkSession* offlineSession() {
    static WebKitNetworkSession* session = [] {
        WebKitNetworkSession* made = webkit_network_session_new_ephemeral();
        WebKitNetworkProxySettings* proxy = webkit_network_proxy_settings_new("http://127.0.0.1:9", nullptr);
        webkit_network_session_set_proxy_settings(made, WEBKIT_NETWORK_PROXY_MODE_CUSTOM, proxy);
        webkit_network_proxy_settings_free(proxy);
        return made;
    }();
    return session;
}

std::string takeString(char* text) {
    std::string result = text != nullptr ? text : "";
    g_free(text);
    return result;
}

} // namespace

// The C callbacks of the view's signals; `data` is the host, disconnected before it goes.
struct WebKitWebViewHost::Signals {
    static void loadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
        static_cast<WebKitWebViewHost*>(data)->onLoadChanged(event);
    }

    static gboolean loadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
        logLine(kTag, "Load failed: " + std::string(uri != nullptr ? uri : "") + ": " +
                          (error != nullptr ? error->message : "unknown error"));
        static_cast<WebKitWebViewHost*>(data)->onLoadFailed();
        return FALSE;
    }

    static gboolean decidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, gpointer data) {
        if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
            type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
            return FALSE; // responses: WebKit's own handling
        }
        auto* navigation = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
        WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(navigation);
        const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        const std::string address = uri != nullptr ? uri : "";
        if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION ||
            !static_cast<WebKitWebViewHost*>(data)->isAllowedAddress(address)) {
            logLine(kTag, "Refused to open " + address);
            webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        return FALSE;
    }

    static void scriptMessage(WebKitUserContentManager*, JSCValue* value, gpointer data) {
        // The handler's name is the signal's detail; it is kept with the connection.
        auto* named = static_cast<std::pair<WebKitWebViewHost*, std::string>*>(data);
        ScriptMessage message;
        message.name = named->second;
        if (jsc_value_is_string(value)) {
            message.body = takeString(jsc_value_to_string(value));
        } else {
            message.body = ScriptMessage::NonText{takeString(jsc_value_to_json(value, 0))};
        }
        named->first->onScriptMessage(named->second, std::move(message));
    }
};

WebKitWebViewHost::WebKitWebViewHost(std::filesystem::path allowedFolder)
    : mAllowedFolder(std::filesystem::weakly_canonical(std::move(allowedFolder))),
      mContentManager(webkit_user_content_manager_new()) {
    mView = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", offlineSession(),
                                         "user-content-manager", mContentManager, nullptr));
    g_object_ref_sink(mView);
    WebKitSettings* settings = webkit_web_view_get_settings(mView);
    webkit_settings_set_allow_file_access_from_file_urls(settings, FALSE);
    webkit_settings_set_allow_universal_access_from_file_urls(settings, FALSE);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
    g_signal_connect(mView, "load-changed", G_CALLBACK(Signals::loadChanged), this);
    g_signal_connect(mView, "load-failed", G_CALLBACK(Signals::loadFailed), this);
    g_signal_connect(mView, "decide-policy", G_CALLBACK(Signals::decidePolicy), this);
}

WebKitWebViewHost::~WebKitWebViewHost() {
    *mAlive = false;
    cancelLoadTimeout();
    g_signal_handlers_disconnect_by_data(mView, this);
    for (const auto& [name, handler] : mHandlers) {
        webkit_user_content_manager_unregister_script_message_handler(mContentManager, name.c_str(), nullptr);
    }
    g_signal_handlers_disconnect_matched(mContentManager, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                         reinterpret_cast<gpointer>(Signals::scriptMessage), nullptr);
    g_object_unref(mView);
    g_object_unref(mContentManager);
}

GtkWidget* WebKitWebViewHost::widget() const {
    return GTK_WIDGET(mView);
}

void WebKitWebViewHost::addScriptMessageHandler(std::weak_ptr<ScriptMessageHandler> handler,
                                                const std::string& name) {
    const bool isNew = mHandlers.find(name) == mHandlers.end();
    mHandlers[name] = std::move(handler);
    if (!isNew) {
        return; // the later handler replaces the earlier one on the same registration
    }
    webkit_user_content_manager_register_script_message_handler(mContentManager, name.c_str(), nullptr);
    auto* named = new std::pair<WebKitWebViewHost*, std::string>(this, name);
    g_signal_connect_data(
        mContentManager, ("script-message-received::" + name).c_str(), G_CALLBACK(Signals::scriptMessage),
        named,
        [](gpointer data, GClosure*) {
            delete static_cast<std::pair<WebKitWebViewHost*, std::string>*>(data);
        },
        GConnectFlags{});
}

void WebKitWebViewHost::setNavigationDelegate(std::weak_ptr<WebNavigationDelegate> delegate) {
    mNavigationDelegate = std::move(delegate);
}

bool WebKitWebViewHost::isAllowedAddress(const std::string& uri) const {
    if (uri == "about:blank") {
        return true;
    }
    if (uri.rfind("file:", 0) != 0) {
        return false;
    }
    gchar* fileName = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
    if (fileName == nullptr) {
        return false;
    }
    const auto path = std::filesystem::weakly_canonical(takeString(fileName));
    const auto relative = path.lexically_relative(mAllowedFolder);
    return !relative.empty() && *relative.begin() != ".." && relative.is_relative();
}

void WebKitWebViewHost::load(const std::string& url, Millis timeout) {
    cancelLoadTimeout();
    if (!isAllowedAddress(url)) {
        logLine(kTag, "Refused to load " + url);
        return;
    }
    auto alive = mAlive;
    struct Pending {
        WebKitWebViewHost* host;
        std::shared_ptr<bool> alive;
    };
    mLoadTimeoutSource = g_timeout_add_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(timeout.count()),
        [](gpointer data) -> gboolean {
            auto* pending = static_cast<Pending*>(data);
            if (*pending->alive) {
                pending->host->mLoadTimeoutSource = 0;
                logLine(kTag, "The page did not load in time");
                webkit_web_view_stop_loading(pending->host->mView);
                pending->host->mLoadFailed = true;
            }
            return G_SOURCE_REMOVE;
        },
        new Pending{this, alive}, [](gpointer data) { delete static_cast<Pending*>(data); });
    webkit_web_view_load_uri(mView, url.c_str());
}

void WebKitWebViewHost::cancelLoadTimeout() {
    if (mLoadTimeoutSource != 0) {
        g_source_remove(mLoadTimeoutSource);
        mLoadTimeoutSource = 0;
    }
}

void WebKitWebViewHost::onLoadChanged(int loadEvent) {
    auto delegate = mNavigationDelegate.lock();
    switch (loadEvent) {
    case WEBKIT_LOAD_STARTED:
        mLoadFailed = false;
        if (delegate) {
            delegate->didStartProvisionalNavigation();
        }
        break;
    case WEBKIT_LOAD_FINISHED:
        // WebKit ends a failed load with "finished" too; that one never counts.
        if (!mLoadFailed) {
            cancelLoadTimeout();
            if (delegate) {
                delegate->didFinishNavigation();
            }
        }
        break;
    default:
        break;
    }
}

void WebKitWebViewHost::onLoadFailed() {
    mLoadFailed = true;
    cancelLoadTimeout();
}

void WebKitWebViewHost::onScriptMessage(const std::string& name, ScriptMessage message) {
    const auto it = mHandlers.find(name);
    if (it == mHandlers.end()) {
        return;
    }
    if (auto handler = it->second.lock()) {
        handler->didReceiveScriptMessage(message);
    }
}

void WebKitWebViewHost::evaluateScript(const std::string& script) {
    if (mScriptObserver) {
        mScriptObserver(script);
    }
    webkit_web_view_evaluate_javascript(mView, script.c_str(), static_cast<gssize>(script.size()), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
}

void WebKitWebViewHost::evaluateForResult(const std::string& script,
                                          std::function<void(std::optional<std::string>)> done) {
    using Done = std::function<void(std::optional<std::string>)>;
    webkit_web_view_evaluate_javascript(
        mView, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Done> callback(static_cast<Done*>(data));
            GError* error = nullptr;
            JSCValue* value =
                webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (value == nullptr) {
                logLine(kTag, std::string("Script failed: ") + (error != nullptr ? error->message : "?"));
                g_clear_error(&error);
                (*callback)(std::nullopt);
                return;
            }
            std::string text = takeString(jsc_value_to_string(value));
            g_object_unref(value);
            (*callback)(std::move(text));
        },
        new Done(std::move(done)));
}

void WebKitWebViewHost::setScriptObserver(std::function<void(const std::string&)> observer) {
    mScriptObserver = std::move(observer);
}

} // namespace wynfc
