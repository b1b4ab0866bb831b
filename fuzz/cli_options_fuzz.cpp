// Any command line given to wynfc: a UsageError or options that fit together, never a crash
// and no other exception. The entries of a write ("--set AREA.ITEM[.BIT]=VALUE", and the
// "--values" list, its text taken from the argument itself rather than from a file) are
// checked against the shipped address map and the values of the shipped full-feature
// sample, as `wynfc write` checks them after its read: refused with a UsageError, or
// entries that the library can be given (a bit is 0 or 1, whatever the digits said).
//
// Input: the arguments after "wynfc", each ended by a NUL (the last one need not be).

#include "cli/cli_options.h"
#include "cli/map_file.h"
#include "cli/write_request.h"
#include "platform/sim/tag_image.h"
#include "readers/shared_api.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace wynfc;
using namespace wynfc::cli;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "cli_options: %s\n", what);
    std::abort();
}

std::string readResource(const char* name) {
    std::ifstream in(std::string(WYNFC_RESOURCES_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        fail("a shipped resource cannot be read");
    }
    return text.str();
}

struct Shipped {
    MapFile map{readResource("address_map.json")};
    ReadValues read;

    Shipped() {
        std::freopen("/dev/null", "w", stdout); // the library's diagnostics
        if (!sharedApi().loadAddressMapFile(readResource("address_map.json"))) {
            fail("the shipped address map does not load");
        }
        const TagImage sample = parseTagImage(readResource("samples/full_feature.json"));
        for (const MapArea& area : map.areas()) {
            const auto first = sample.memory.begin() + area.firstBlock() * TagImage::kBlockSize;
            const Bytes bytes(first, first + area.blockCount() * TagImage::kBlockSize);
            if (const auto values =
                    sharedApi().getJsonValuesFromDataByName(area.name, numbersFromBytes(bytes))) {
                read.areaJson[area.name] = *values;
            }
        }
    }
};

// What a bit's VALUE text says, read digit by digit: 0, 1, or something else (-1).
int bitOf(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    bool hex = false;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        hex = true;
    }
    const bool negative = !hex && !text.empty() && text.front() == '-';
    if (negative) {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return -1;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool digit =
            (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!digit || (i + 1 < text.size() && c != '0')) {
            return -1;
        }
    }
    const char last = text.back();
    return last == '0' ? 0 : (last == '1' && !negative ? 1 : -1);
}

void checkEntries(const WriteList& list) {
    for (const WriteValuesType& group : list) {
        for (const PropJsonType& entry : group.data) {
            const bool isBit = entry.propName.find('.') != std::string::npos;
            if (isBit && (!entry.bitValue || (*entry.bitValue != 0 && *entry.bitValue != 1))) {
                fail("a bit entry that is neither 0 nor 1 was accepted");
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Shipped shipped;
    std::vector<std::string> arguments;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\0', start), text.size());
        arguments.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }

    Options options;
    try {
        options = parseOptions(arguments);
    } catch (const UsageError&) {
        return 0;
    }
    if ((options.device && options.reader != ReaderChoice::Ble) ||
        (options.pcscReader && options.reader != ReaderChoice::Nfc) ||
        (isReal(options.reader) &&
         (options.tagFile || options.saveFile || !options.tagFiles.empty() || options.saveDir))) {
        fail("reader options were accepted with another reader");
    }
    if ((options.count && *options.count < 1) || std::any_of(options.tagFiles.begin(), options.tagFiles.end(),
                                                             [](const auto& f) { return f.empty(); })) {
        fail("a count below 1 or an empty tag image name was accepted");
    }
    const bool help = options.command == Command::Help;
    if ((options.command == Command::Write && options.valuesFile.has_value() == !options.sets.empty()) ||
        (options.command == Command::Program && !options.valuesFile) ||
        (options.command == Command::Dump && !options.outFile) ||
        (options.command == Command::Restore && !options.imageFile) ||
        (options.command == Command::Decode &&
         (!options.area || options.hex.has_value() == options.tagFile.has_value()))) {
        fail("a command was accepted without what it needs");
    }
    if (help || options.command != Command::Write) {
        return 0;
    }

    try {
        const WriteList list = options.valuesFile
                                   ? writeListFromJson(*options.valuesFile, shipped.map)
                                   : writeListFromSets(options.sets, shipped.map, shipped.read);
        checkEntries(list);
        for (const std::string& set : options.sets) {
            const std::size_t equals = set.find('=');
            const std::string_view name = std::string_view(set).substr(0, equals);
            const bool isBit = name.find('.') != name.rfind('.');
            if (isBit && bitOf(std::string_view(set).substr(equals + 1)) < 0) {
                fail("a bit was set from a value that is neither 0 nor 1");
            }
        }
        writeData(shipped.read, list);
        verify(list, shipped.map, shipped.read);
    } catch (const UsageError&) {
    }
    return 0;
}
