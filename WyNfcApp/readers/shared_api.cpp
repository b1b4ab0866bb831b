#include "readers/shared_api.h"

namespace wynfc {

ApiHeader& sharedApi() {
    static ApiHeader* const api = new ApiHeader(); // lives until the process ends
    return *api;
}

Bytes bytesFromNumbers(const std::vector<int>& numbers) {
    Bytes bytes;
    bytes.reserve(numbers.size());
    for (const int number : numbers) {
        bytes.push_back(static_cast<std::uint8_t>(number & 0xFF));
    }
    return bytes;
}

std::vector<int> numbersFromBytes(const Bytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

} // namespace wynfc
