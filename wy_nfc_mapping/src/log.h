#pragma once

#include "console.h"

#include <cstdio>

// Library diagnostics: one line on standard output,
//   "[ERROR] <file>:<function>:<line> <message>"
// Every message format ends in "%s", which receives the colour reset text; a message
// ending in "\n%s" is therefore followed by an empty line. __FILE__ is the path inside
// the repository (the build maps the source prefix away).
#define WY_LOG_LINE_AT(kind, color, file, function, line, fmt, ...)                                          \
    do {                                                                                                     \
        std::printf("%s" kind " %s:%s:%i " fmt "\n", color, file, function, line __VA_OPT__(, ) __VA_ARGS__, \
                    ::wy_nfc_mapping::Console::reset());                                                     \
        std::fflush(stdout);                                                                                 \
    } while (0)

#define WY_LOG_ERROR(fmt, ...)                                                                               \
    WY_LOG_LINE_AT("[ERROR]", ::wy_nfc_mapping::Console::errorColor(), __FILE__, __func__, __LINE__,         \
                   fmt __VA_OPT__(, ) __VA_ARGS__)
#define WY_LOG_WARNING(fmt, ...)                                                                             \
    WY_LOG_LINE_AT("[WARNING]", ::wy_nfc_mapping::Console::warningColor(), __FILE__, __func__, __LINE__,     \
                   fmt __VA_OPT__(, ) __VA_ARGS__)

// Where a log line is written on behalf of a caller, it names the caller's place.
namespace wy_nfc_mapping {
struct SourcePlace {
    const char* file;
    const char* function;
    int line;
};
} // namespace wy_nfc_mapping
#define WY_HERE (::wy_nfc_mapping::SourcePlace{__FILE__, __func__, __LINE__})

#define WY_LOG_ERROR_AT(place, fmt, ...)                                                                     \
    WY_LOG_LINE_AT("[ERROR]", ::wy_nfc_mapping::Console::errorColor(), (place).file, (place).function,       \
                   (place).line, fmt __VA_OPT__(, ) __VA_ARGS__)
