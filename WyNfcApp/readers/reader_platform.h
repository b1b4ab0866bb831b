#pragma once

#include "platform/central_manager.h"
#include "platform/main_queue.h"
#include "platform/tag_reader_session.h"
#include "platform/timing.h"

#include <memory>

namespace wynfc {

// What the transports are built on: the host chooses the backends (simulation or the
// machine's readers) and hands them over in one value.
struct ReaderPlatform {
    std::shared_ptr<TagReaderService> tagReaderService;
    CentralManagerFactory centralManagerFactory;
    std::shared_ptr<MainQueue> mainQueue;
    Timing timing;
};

} // namespace wynfc
