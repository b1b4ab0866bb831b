#include "shell/simulated_driver.h"

namespace wynfc::shell {

SimulatedDriver::SimulatedDriver(std::shared_ptr<VirtualTag> tag, Timing timing)
    : mTag(std::move(tag)), mFeig(std::make_shared<SimulatedFeigReader>(timing)) {
    mTagReader->present(mTag);
    mFeig->putTag(mTag);
    mRadio.addDevice(mFeig);
}

} // namespace wynfc::shell
