#pragma once

#include <cstdint>
#include <vector>

namespace wynfc {

using Bytes = std::vector<std::uint8_t>;

} // namespace wynfc
