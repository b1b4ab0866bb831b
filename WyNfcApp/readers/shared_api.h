#pragma once

#include "platform/bytes.h"
#include "wy_nfc_mapping/ApiHeader.h"

namespace wynfc {

// The application's one front end of the mapping library, created on first use
// (thread-safely) and never released. Every library call of the application goes
// through it. The library takes no locks: one job calls it at a time.
ApiHeader& sharedApi();

// Byte arrays of the library are numbers; each one's low 8 bits are the byte.
Bytes bytesFromNumbers(const std::vector<int>& numbers);
std::vector<int> numbersFromBytes(const Bytes& bytes);

} // namespace wynfc
