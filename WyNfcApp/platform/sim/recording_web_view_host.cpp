#include "platform/sim/recording_web_view_host.h"

namespace wynfc {

RecordingWebViewHost::RecordingWebViewHost(MainQueue& mainQueue) : mainQueue_(mainQueue) {}

void RecordingWebViewHost::addScriptMessageHandler(std::weak_ptr<ScriptMessageHandler> handler,
                                                   const std::string& name) {
    std::lock_guard lock(mutex_);
    handlers_[name] = std::move(handler);
}

void RecordingWebViewHost::setNavigationDelegate(std::weak_ptr<WebNavigationDelegate> delegate) {
    std::lock_guard lock(mutex_);
    navigationDelegate_ = std::move(delegate);
}

void RecordingWebViewHost::load(const std::string& url, Millis timeout) {
    bool finish = false;
    {
        std::lock_guard lock(mutex_);
        loads_.push_back(Load{url, timeout});
        finish = loadsFinish_;
    }
    startNavigation();
    if (finish) {
        finishNavigation();
    }
}

void RecordingWebViewHost::evaluateScript(const std::string& script) {
    std::shared_ptr<const std::function<void(const std::string&)>> observer;
    {
        std::lock_guard lock(mutex_);
        scripts_.push_back(script);
        if (!mainQueue_.isMainThread()) {
            ++scriptsOffMainQueue_;
        }
        observer = observer_;
    }
    if (observer) {
        (*observer)(script);
    }
}

bool RecordingWebViewHost::postMessage(ScriptMessage message) {
    std::weak_ptr<ScriptMessageHandler> handler;
    {
        std::lock_guard lock(mutex_);
        const auto it = handlers_.find(message.name);
        if (it == handlers_.end()) {
            return false;
        }
        handler = it->second;
    }
    mainQueue_.async([handler, message = std::move(message)] {
        if (auto receiver = handler.lock()) {
            receiver->didReceiveScriptMessage(message);
        }
    });
    return true;
}

bool RecordingWebViewHost::postText(const std::string& handlerName, const std::string& text) {
    return postMessage(ScriptMessage{handlerName, text});
}

void RecordingWebViewHost::startNavigation() {
    std::weak_ptr<WebNavigationDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        delegate = navigationDelegate_;
    }
    mainQueue_.async([delegate] {
        if (auto receiver = delegate.lock()) {
            receiver->didStartProvisionalNavigation();
        }
    });
}

void RecordingWebViewHost::finishNavigation() {
    std::weak_ptr<WebNavigationDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        delegate = navigationDelegate_;
    }
    mainQueue_.async([delegate] {
        if (auto receiver = delegate.lock()) {
            receiver->didFinishNavigation();
        }
    });
}

void RecordingWebViewHost::setLoadsFinishByThemselves(bool finish) {
    std::lock_guard lock(mutex_);
    loadsFinish_ = finish;
}

std::vector<std::string> RecordingWebViewHost::scripts() const {
    std::lock_guard lock(mutex_);
    return scripts_;
}

void RecordingWebViewHost::clearScripts() {
    std::lock_guard lock(mutex_);
    scripts_.clear();
    scriptsOffMainQueue_ = 0;
}

int RecordingWebViewHost::scriptsOffMainQueue() const {
    std::lock_guard lock(mutex_);
    return scriptsOffMainQueue_;
}

void RecordingWebViewHost::setScriptObserver(std::function<void(const std::string&)> observer) {
    std::lock_guard lock(mutex_);
    observer_ = observer
                    ? std::make_shared<const std::function<void(const std::string&)>>(std::move(observer))
                    : nullptr;
}

std::vector<RecordingWebViewHost::Load> RecordingWebViewHost::loads() const {
    std::lock_guard lock(mutex_);
    return loads_;
}

std::vector<std::string> RecordingWebViewHost::handlerNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& entry : handlers_) {
        names.push_back(entry.first);
    }
    return names;
}

} // namespace wynfc
