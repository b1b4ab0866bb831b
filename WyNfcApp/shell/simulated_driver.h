#pragma once

#include "platform/central_manager.h"
#include "platform/main_queue.h"
#include "platform/sim/simulated_feig_reader.h"
#include "platform/sim/simulated_radio.h"
#include "platform/sim/simulated_tag_reader.h"
#include "platform/sim/virtual_tag.h"

#include <memory>

namespace wynfc::shell {

// A driver lying on both simulated readers at once: in the field of the simulated tag
// reader, and on the simulated Bluetooth reader, which advertises nearby. A person can read
// and write it with no hardware.
class SimulatedDriver {
public:
    SimulatedDriver(std::shared_ptr<VirtualTag> tag, Timing timing);

    const std::shared_ptr<VirtualTag>& tag() const { return mTag; }
    const std::shared_ptr<SimulatedTagReaderService>& tagReader() const { return mTagReader; }
    CentralManagerFactory centralFactory(MainQueue& mainQueue) const {
        return mRadio.centralFactory(mainQueue);
    }
    SimulatedRadio& radio() { return mRadio; }
    const std::shared_ptr<SimulatedFeigReader>& bluetoothReader() const { return mFeig; }

private:
    std::shared_ptr<VirtualTag> mTag;
    std::shared_ptr<SimulatedTagReaderService> mTagReader = std::make_shared<SimulatedTagReaderService>();
    SimulatedRadio mRadio;
    std::shared_ptr<SimulatedFeigReader> mFeig;
};

} // namespace wynfc::shell
