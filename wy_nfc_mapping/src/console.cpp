#include "console.h"

namespace wy_nfc_mapping {

const char* Console::reset() {
    return "";
}
const char* Console::debugColor() {
    return "";
}
const char* Console::warningColor() {
    return "";
}
const char* Console::errorColor() {
    return "";
}
const char* Console::successColor() {
    return "";
}
const char* Console::infoColor() {
    return "";
}

} // namespace wy_nfc_mapping
