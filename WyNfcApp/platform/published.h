#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace wynfc {

// A value that views observe: every set() tells the observers the new value. Safe to read
// from any thread; observers run on the thread that sets the value, after the value has
// changed and outside the lock. Dropping the Subscription ends the calls (one already under
// way on another thread still finishes).
template <typename T> class Published {
public:
    using Observer = std::function<void(const T&)>;

    class Subscription {
    public:
        Subscription() = default;
        explicit Subscription(std::shared_ptr<void> token) : mToken(std::move(token)) {}

    private:
        std::shared_ptr<void> mToken;
    };

    explicit Published(T initial = T()) : mValue(std::move(initial)) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    T get() const {
        std::lock_guard lock(mMutex);
        return mValue;
    }

    void set(T value) {
        modify([&](T& current) { current = std::move(value); });
    }

    // Changes the value in place under the lock (e.g. appending to a list), then tells
    // the observers.
    template <typename Change> void modify(Change change) {
        T value;
        std::vector<std::shared_ptr<Observer>> observers;
        {
            std::lock_guard lock(mMutex);
            change(mValue);
            value = mValue;
            observers = liveObservers();
        }
        for (const auto& observer : observers) {
            (*observer)(value);
        }
    }

    [[nodiscard]] Subscription observe(Observer observer) {
        auto shared = std::make_shared<Observer>(std::move(observer));
        std::lock_guard lock(mMutex);
        mObservers.push_back(shared);
        return Subscription(shared);
    }

private:
    std::vector<std::shared_ptr<Observer>> liveObservers() {
        std::vector<std::shared_ptr<Observer>> live;
        std::erase_if(mObservers, [&](const std::weak_ptr<Observer>& weak) {
            if (auto observer = weak.lock()) {
                live.push_back(std::move(observer));
                return false;
            }
            return true; // its subscription has ended
        });
        return live;
    }

    mutable std::mutex mMutex;
    T mValue;
    std::vector<std::weak_ptr<Observer>> mObservers;
};

} // namespace wynfc
