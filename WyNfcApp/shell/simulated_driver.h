#pragma once

#include "platform/central_manager.h"
#include "platform/main_queue.h"
#include "platform/sim/simulated_feig_reader.h"
#include "platform/sim/simulated_radio.h"
#include "platform/sim/simulated_tag_reader.h"
#include "platform/sim/tag_queue.h"
#include "platform/sim/virtual_tag.h"

#include <memory>

namespace wynfc::shell {

// A driver lying on both simulated readers at once: in the field of the simulated tag
// reader, and on the simulated Bluetooth reader, which advertises nearby. A person can read
// and write it with no hardware. Or several drivers, laid on both readers one after another:
// the next each time the page is done with one (nextDriver).
class SimulatedDriver {
public:
    SimulatedDriver(std::shared_ptr<VirtualTag> tag, Timing timing);
    SimulatedDriver(std::shared_ptr<SimulatedTagQueue> queue, Timing timing);

    // The single driver, or the first of the queue.
    const std::shared_ptr<VirtualTag>& tag() const { return mTag; }
    // Null with a single driver.
    const std::shared_ptr<SimulatedTagQueue>& queue() const { return mQueue; }
    // The driver on the readers has had its job: the queue's next comes. A single driver
    // stays where it is.
    void nextDriver();

    const std::shared_ptr<SimulatedTagReaderService>& tagReader() const { return mTagReader; }
    CentralManagerFactory centralFactory(MainQueue& mainQueue) const {
        return mRadio.centralFactory(mainQueue);
    }
    SimulatedRadio& radio() { return mRadio; }
    const std::shared_ptr<SimulatedFeigReader>& bluetoothReader() const { return mFeig; }

private:
    std::shared_ptr<VirtualTag> mTag;
    std::shared_ptr<SimulatedTagQueue> mQueue;
    std::shared_ptr<SimulatedTagReaderService> mTagReader = std::make_shared<SimulatedTagReaderService>();
    SimulatedRadio mRadio;
    std::shared_ptr<SimulatedFeigReader> mFeig;
};

} // namespace wynfc::shell
