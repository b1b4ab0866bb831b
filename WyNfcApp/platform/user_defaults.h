#pragma once

#include <string>

namespace wynfc {

// The settings that outlive the process: booleans by key.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    // False for a key that was never set.
    virtual bool boolForKey(const std::string& key) const = 0;
    virtual void setBool(const std::string& key, bool value) = 0;
};

} // namespace wynfc
