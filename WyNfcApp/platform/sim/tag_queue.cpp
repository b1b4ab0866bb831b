#include "platform/sim/tag_queue.h"

#include "platform/sim/tag_image.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <stdexcept>

namespace wynfc {

namespace {

std::vector<SimulatedTagQueue::Driver> checkedList(std::vector<SimulatedTagQueue::Driver> drivers) {
    if (drivers.empty()) {
        throw std::invalid_argument("a tag queue needs at least one driver");
    }
    std::map<std::string, const VirtualTag*> names;
    for (const auto& driver : drivers) {
        if (!driver.tag) {
            throw std::invalid_argument("a tag queue's driver has no tag");
        }
        const auto [named, added] = names.emplace(driver.fileName, driver.tag.get());
        if (!added && named->second != driver.tag.get()) {
            throw std::invalid_argument("two different tag images are named \"" + driver.fileName +
                                        "\": their final images would overwrite each other");
        }
    }
    return drivers;
}

} // namespace

SimulatedTagQueue::SimulatedTagQueue(std::vector<Driver> drivers) : mList(checkedList(std::move(drivers))) {}

std::shared_ptr<SimulatedTagQueue> SimulatedTagQueue::load(const std::vector<std::filesystem::path>& files) {
    std::vector<Driver> drivers;
    std::map<std::filesystem::path, std::shared_ptr<VirtualTag>> loaded;
    for (const auto& file : files) {
        const auto key = std::filesystem::weakly_canonical(file);
        auto& tag = loaded[key];
        if (!tag) {
            tag = VirtualTag::load(file);
        }
        drivers.push_back({tag, file.filename().string()});
    }
    return std::make_shared<SimulatedTagQueue>(std::move(drivers));
}

void SimulatedTagQueue::presentTo(std::shared_ptr<SimulatedTagReaderService> reader) {
    std::lock_guard lock(mMutex);
    if (reader) {
        mNfcReaders.push_back(std::move(reader));
    }
}

void SimulatedTagQueue::presentTo(std::shared_ptr<SimulatedFeigReader> reader) {
    std::lock_guard lock(mMutex);
    if (reader) {
        mBleReaders.push_back(std::move(reader));
    }
}

void SimulatedTagQueue::layOnReadersLocked(const std::shared_ptr<VirtualTag>& tag) {
    for (const auto& reader : mNfcReaders) {
        reader->present(tag);
    }
    for (const auto& reader : mBleReaders) {
        tag->returnToField();
        reader->putTag(tag);
    }
}

void SimulatedTagQueue::takeOffReadersLocked(const std::shared_ptr<VirtualTag>& tag) {
    for (const auto& reader : mNfcReaders) {
        reader->remove(tag);
    }
    for (const auto& reader : mBleReaders) {
        reader->removeTag(tag);
    }
}

void SimulatedTagQueue::start() {
    std::shared_ptr<VirtualTag> first;
    {
        std::lock_guard lock(mMutex);
        if (mStarted) {
            return;
        }
        mStarted = true;
        mCurrent = mList.front().tag;
        mNext = 1;
        layOnReadersLocked(mCurrent);
        first = mCurrent;
    }
    inField.set(first);
}

void SimulatedTagQueue::driverDone() {
    std::shared_ptr<VirtualTag> now;
    {
        std::lock_guard lock(mMutex);
        if (!mStarted || !mCurrent) {
            return;
        }
        std::shared_ptr<VirtualTag> next = mNext < mList.size() ? mList[mNext].tag : nullptr;
        if (mNext < mList.size()) {
            ++mNext;
        }
        if (next == mCurrent) {
            return; // it stays on the reader for the next job
        }
        takeOffReadersLocked(mCurrent);
        mCurrent = next;
        if (mCurrent) {
            layOnReadersLocked(mCurrent);
        }
        now = mCurrent;
    }
    inField.set(now);
}

bool SimulatedTagQueue::exhausted() const {
    std::lock_guard lock(mMutex);
    return mStarted && !mCurrent;
}

std::size_t SimulatedTagQueue::size() const {
    return mList.size();
}

std::size_t SimulatedTagQueue::presented() const {
    std::lock_guard lock(mMutex);
    return mNext;
}

bool SimulatedTagQueue::waitUntilGone(const std::shared_ptr<VirtualTag>& tag, Millis limit) {
    struct Wake {
        std::mutex mutex;
        std::condition_variable changed;
    };
    const auto wake = std::make_shared<Wake>();
    const auto subscription = inField.observe([wake](const std::shared_ptr<VirtualTag>&) {
        std::lock_guard lock(wake->mutex);
        wake->changed.notify_all();
    });
    std::unique_lock lock(wake->mutex);
    return wake->changed.wait_for(lock, limit, [&] { return inField.get() != tag; });
}

std::vector<SimulatedTagQueue::Driver> SimulatedTagQueue::drivers() const {
    std::vector<Driver> distinct;
    for (const Driver& driver : mList) {
        if (std::none_of(distinct.begin(), distinct.end(),
                         [&](const Driver& known) { return known.tag == driver.tag; })) {
            distinct.push_back(driver);
        }
    }
    return distinct;
}

void SimulatedTagQueue::saveAll(const std::filesystem::path& folder) const {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw TagImageError("cannot make the folder " + folder.string() + ": " + error.message());
    }
    for (const Driver& driver : drivers()) {
        driver.tag->save(folder / driver.fileName);
    }
}

} // namespace wynfc
