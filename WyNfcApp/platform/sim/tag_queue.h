#pragma once

#include "platform/published.h"
#include "platform/sim/simulated_feig_reader.h"
#include "platform/sim/simulated_tag_reader.h"
#include "platform/sim/virtual_tag.h"
#include "platform/timing.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace wynfc {

// Drivers laid on a simulated reader one after another, as a worker on a production line lays
// them: once the queue has started, its first driver is in the field; each time the host says
// that the job on it has ended (driverDone), that driver leaves the field and the next one is
// laid on the reader. After the last one the field stays empty and the queue is exhausted.
//
// A driver listed twice in a row stays on the reader through the job after its own, as when
// the worker has not taken it away yet: driverDone leaves it in the field (the same tag, not
// laid on again). Listed again later, it is laid on the reader again. Either way it is the same
// driver (one VirtualTag), so a host that keeps track of the UIDs it has seen meets it twice.
//
// The drivers go to the readers given with presentTo: the NFC reader's field, the Bluetooth
// reader's, or both (an application with both modes over one simulated driver).
//
// Thread-safe: the host's job thread, a GUI's main thread and a test may call it at once.
// Observers of `inField` run on the thread that called start or driverDone, with no lock of
// the queue held, after the readers' fields have changed.
class SimulatedTagQueue {
public:
    struct Driver {
        std::shared_ptr<VirtualTag> tag;
        // The name its final image is saved under (saveAll): the image's file name.
        std::string fileName;
    };

    // Throws std::invalid_argument for an empty list, a driver without a tag, or two different
    // tags with the same file name.
    explicit SimulatedTagQueue(std::vector<Driver> drivers);
    // Loads the tag images (a path given twice is the same driver). Throws TagImageError naming
    // the file at fault, std::invalid_argument as the constructor.
    static std::shared_ptr<SimulatedTagQueue> load(const std::vector<std::filesystem::path>& files);

    SimulatedTagQueue(const SimulatedTagQueue&) = delete;
    SimulatedTagQueue& operator=(const SimulatedTagQueue&) = delete;

    // The readers the drivers are laid on; give them before start().
    void presentTo(std::shared_ptr<SimulatedTagReaderService> reader);
    void presentTo(std::shared_ptr<SimulatedFeigReader> reader);

    // Lays the first driver on the readers. Once only: later calls do nothing.
    void start();
    // The job on the driver in the field has ended: it leaves the field (unless it is listed
    // again next) and the next driver is laid on the readers. Nothing once exhausted.
    void driverDone();

    // The driver in the field: null before start() and once exhausted.
    Published<std::shared_ptr<VirtualTag>> inField;
    // Every driver of the list has had its job.
    bool exhausted() const;
    // The list's length, and how many of its entries have been laid on the reader so far.
    std::size_t size() const;
    std::size_t presented() const;

    // Waits until the driver in the field is no longer `tag` (another one, or none), at most
    // `limit`; false when it is still there.
    bool waitUntilGone(const std::shared_ptr<VirtualTag>& tag, Millis limit);

    // Each driver once, in the order first listed.
    std::vector<Driver> drivers() const;
    // Writes each driver's image, as it is now, into the folder under its file name (the
    // folder is made when missing). Throws TagImageError when a file cannot be written.
    void saveAll(const std::filesystem::path& folder) const;

private:
    void layOnReadersLocked(const std::shared_ptr<VirtualTag>& tag);
    void takeOffReadersLocked(const std::shared_ptr<VirtualTag>& tag);

    const std::vector<Driver> mList;

    mutable std::mutex mMutex;
    std::vector<std::shared_ptr<SimulatedTagReaderService>> mNfcReaders;
    std::vector<std::shared_ptr<SimulatedFeigReader>> mBleReaders;
    bool mStarted = false;
    std::size_t mNext = 0; // the list's entry to lay on the reader next
    std::shared_ptr<VirtualTag> mCurrent;
};

} // namespace wynfc
