#include "readers/reader_contract.h"

namespace wynfc {

std::string_view rawValue(ReaderMode mode) {
    return mode == ReaderMode::NFC ? "NFC" : "BLE";
}

std::optional<ReaderMode> readerModeFromRawValue(std::string_view text) {
    if (text == "NFC") {
        return ReaderMode::NFC;
    }
    if (text == "BLE") {
        return ReaderMode::BLE;
    }
    return std::nullopt;
}

} // namespace wynfc
