#pragma once

namespace wy_nfc_mapping {

// Terminal colours around log lines. This build writes plain lines: every colour is
// the empty text.
class Console {
public:
    static const char* reset();
    static const char* debugColor();
    static const char* warningColor();
    static const char* errorColor();
    static const char* successColor();
    static const char* infoColor();
};

} // namespace wy_nfc_mapping
