#include "readers/reader_contract.h"

namespace wynfc {

std::string_view rawValue(ReaderMode mode) {
    return mode == ReaderMode::NFC ? "NFC" : "BLE";
}

} // namespace wynfc
