#include "shell/simulated_driver.h"

namespace wynfc::shell {

SimulatedDriver::SimulatedDriver(std::shared_ptr<VirtualTag> tag, Timing timing)
    : mTag(std::move(tag)), mFeig(std::make_shared<SimulatedFeigReader>(timing)) {
    mTagReader->present(mTag);
    mFeig->putTag(mTag);
    mRadio.addDevice(mFeig);
}

SimulatedDriver::SimulatedDriver(std::shared_ptr<SimulatedTagQueue> queue, Timing timing)
    : mTag(queue->drivers().front().tag), mQueue(std::move(queue)),
      mFeig(std::make_shared<SimulatedFeigReader>(timing)) {
    mRadio.addDevice(mFeig);
    mQueue->presentTo(mTagReader);
    mQueue->presentTo(mFeig);
    mQueue->start();
}

void SimulatedDriver::nextDriver() {
    if (mQueue) {
        mQueue->driverDone();
    }
}

} // namespace wynfc::shell
