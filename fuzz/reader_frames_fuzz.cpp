// Any bytes from the Bluetooth reader: parsed, checked and unpacked without reading past
// them; unpacked block data is never longer than what came in; the data judged against each
// command the reader is sent.

#include "ble_requests.h"
#include "platform/console_log.h"
#include "platform/sim/feig_frame.h"
#include "readers/ble_response_frame.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wynfc;
    static const bool quiet = [] {
        setLogSink([](const std::string&) {}); // a malformed answer's bytes, one line each
        return true;
    }();
    (void)quiet;
    const Bytes bytes(data, data + size);
    isFrameStart(bytes);
    frameComplete(bytes);
    frameProgress(bytes);
    ReaderResponseFrame frame;
    if (parseResponseFrame(bytes, frame)) {
        const Bytes blocks = extractBlockData(frame.data);
        if (blocks.size() > frame.data.size()) {
            __builtin_trap();
        }
        for (const Bytes& hostCommand : fuzz::kHostCommands) {
            canAnswer(feig::requestFrame(hostCommand), frame.data);
        }
    }
    reverseBlockBytes(bytes);
    return 0;
}
