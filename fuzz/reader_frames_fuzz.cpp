// Any bytes from the Bluetooth reader: parsed, checked and unpacked without reading past
// them; unpacked block data is never longer than what came in.

#include "readers/ble_response_frame.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wynfc;
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
    }
    reverseBlockBytes(bytes);
    return 0;
}
