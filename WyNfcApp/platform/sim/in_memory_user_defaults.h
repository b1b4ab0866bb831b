#pragma once

#include "platform/user_defaults.h"

#include <map>
#include <mutex>
#include <string>

namespace wynfc {

class InMemoryUserDefaults final : public UserDefaults {
public:
    bool boolForKey(const std::string& key) const override {
        std::lock_guard lock(mutex_);
        const auto it = values_.find(key);
        return it != values_.end() && it->second;
    }

    void setBool(const std::string& key, bool value) override {
        std::lock_guard lock(mutex_);
        values_[key] = value;
    }

    bool contains(const std::string& key) const {
        std::lock_guard lock(mutex_);
        return values_.count(key) != 0;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, bool> values_;
};

} // namespace wynfc
