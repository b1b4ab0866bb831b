// Any text given as a driver tag image (--tag, --image, --simulate=IMAGE): TagImageError or an
// image whose fields fit together, never a crash. An image read is written back unchanged:
// formatting it and reading that again gives the same image. Any text given as hex digits
// gives nothing or half as many bytes as it has digits.

#include "platform/sim/tag_image.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "tag_image: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wynfc;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const TagImage image = parseTagImage(text);
        image.validate();
        const TagImage again = parseTagImage(formatTagImage(image));
        if (again.name != image.name || again.description != image.description || again.uid != image.uid ||
            again.blockCount != image.blockCount || again.memory != image.memory) {
            fail("an image written and read back differs");
        }
    } catch (const TagImageError&) {
    }

    if (const auto bytes = parseHex(text)) {
        const auto digits = static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) != 0;
        }));
        if (digits != bytes->size() * 2 || toHex(*bytes).size() != digits) {
            fail("hex digits and bytes do not match");
        }
    }
    return 0;
}
