#include "platform/linux/gtk/webkit_web_view_host.h"

#include "platform/console_log.h"

#include <gio/gio.h>
#include <glib.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <utility>

namespace wynfc {
namespace {

constexpr const char* kTag = "------ WebView ------";

// The native handlers live in a script world of their own, which only the top frame's bridge
// below reaches: a frame inside the page finds no window.webkit.messageHandlers at all.
constexpr const char* kBridgeWorld = "wynfc-native";
constexpr const char* kBridgeEvent = "wynfc-native-message";

// In the page's world of the top frame: window.webkit.messageHandlers.<name>.postMessage(body)
// as the page knows it, handing the body over to the bridge as text ("s" text, or "j" JSON).
std::string pageSideBridge(const std::string& name) {
    return "(() => { const w = window.webkit = window.webkit || {};"
           " const handlers = w.messageHandlers = w.messageHandlers || {};"
           " handlers['" +
           name +
           "'] = Object.freeze({ postMessage(body) {"
           " const text = typeof body === 'string' ? 's' + body : 'j' + JSON.stringify(body === undefined ? "
           "null : body);"
           " document.dispatchEvent(new CustomEvent('" +
           std::string(kBridgeEvent) + "', { detail: '" + name + ":' + text })); } }); })();";
}

// In the bridge's world of the top frame: passes each body to the native handler.
std::string nativeSideBridge() {
    return "document.addEventListener('" + std::string(kBridgeEvent) +
           "', (event) => { const detail = event.detail; if (typeof detail !== 'string') return;"
           " const colon = detail.indexOf(':'); if (colon < 0) return;"
           " const handler = window.webkit && window.webkit.messageHandlers[detail.slice(0, colon)];"
           " if (!handler) return; const text = detail.slice(colon + 1);"
           " try { handler.postMessage(text[0] === 's' ? text.slice(1) : JSON.parse(text.slice(1))); } catch "
           "(e) {} },"
           " true);";
}

bool isHandlerName(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    });
}

void addUserScript(WebKitUserContentManager* manager, const std::string& source, const char* world) {
    WebKitUserScript* script =
        world != nullptr
            ? webkit_user_script_new_for_world(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, world, nullptr,
                                               nullptr)
            : webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                     WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(manager, script);
    webkit_user_script_unref(script);
}

// Web addresses a person may open in the desktop's browser by clicking a link on the page.
bool isOutsideLink(const std::string& uri) {
    return uri.rfind("https://", 0) == 0 || uri.rfind("http://", 0) == 0 || uri.rfind("mailto:", 0) == 0;
}

void openInDesktop(const std::string& uri) {
    g_app_info_launch_default_for_uri_async(uri.c_str(), nullptr, nullptr, nullptr, nullptr);
}

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
        auto* host = static_cast<WebKitWebViewHost*>(data);
        if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION || !host->isAllowedAddress(address)) {
            webkit_policy_decision_ignore(decision);
            // A link the person clicked goes to the desktop's browser; whatever a script asks
            // for stays refused.
            if (webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED &&
                webkit_navigation_action_is_user_gesture(action) && isOutsideLink(address)) {
                logLine(kTag, "Opening " + address + " in the desktop's browser");
                host->mOpenOutside(address);
                return TRUE;
            }
            logLine(kTag, "Refused to open " + address);
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
    mOpenOutside = openInDesktop;
}

WebKitWebViewHost::~WebKitWebViewHost() {
    *mAlive = false;
    cancelLoadTimeout();
    g_signal_handlers_disconnect_by_data(mView, this);
    for (const auto& [name, handler] : mHandlers) {
        webkit_user_content_manager_unregister_script_message_handler(mContentManager, name.c_str(),
                                                                      kBridgeWorld);
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
    if (!isHandlerName(name)) {
        logLine(kTag, "Refused the message handler name " + name);
        return;
    }
    const bool isNew = mHandlers.find(name) == mHandlers.end();
    mHandlers[name] = std::move(handler);
    if (!isNew) {
        return; // the later handler replaces the earlier one on the same registration
    }
    // The bridge is in place from the next page loaded on.
    addUserScript(mContentManager, pageSideBridge(name), nullptr);
    if (mHandlers.size() == 1) {
        addUserScript(mContentManager, nativeSideBridge(), kBridgeWorld);
    }
    auto* named = new std::pair<WebKitWebViewHost*, std::string>(this, name);
    g_signal_connect_data(
        mContentManager, ("script-message-received::" + name).c_str(), G_CALLBACK(Signals::scriptMessage),
        named,
        [](gpointer data, GClosure*) {
            delete static_cast<std::pair<WebKitWebViewHost*, std::string>*>(data);
        },
        GConnectFlags{});
    webkit_user_content_manager_register_script_message_handler(mContentManager, name.c_str(), kBridgeWorld);
}

void WebKitWebViewHost::setOutsideLinkOpener(std::function<void(const std::string&)> open) {
    mOpenOutside = open ? std::move(open) : openInDesktop;
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
