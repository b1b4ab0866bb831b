#pragma once

#include "platform/sim/link_model.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace wynfc::cli {

// A command line that cannot be carried out; the text says why (exit status 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Version is the page's version text; ProgramVersion (--version) the program's own.
enum class Command { Read, Write, Program, Dump, Restore, Decode, Areas, Version, Help, ProgramVersion };
enum class ReaderChoice { SimNfc, SimBle, Ble, Nfc };

inline bool isReal(ReaderChoice reader) {
    return reader == ReaderChoice::Ble || reader == ReaderChoice::Nfc;
}

inline bool isBluetooth(ReaderChoice reader) {
    return reader == ReaderChoice::SimBle || reader == ReaderChoice::Ble;
}

struct Options {
    Command command = Command::Help;
    ReaderChoice reader = ReaderChoice::SimBle;
    std::optional<std::string> device;     // --reader ble: the reader's name or address
    std::optional<std::string> pcscReader; // --reader nfc: part of the PC/SC reader's name
    std::optional<std::string> tagFile;
    std::optional<std::string> saveFile;
    std::optional<std::string> valuesFile;
    std::vector<std::string> sets; // AREA.ITEM[.BIT]=VALUE
    bool verify = true;
    bool json = false;
    std::optional<std::string> outFile;   // dump
    std::optional<std::string> imageFile; // restore
    bool anyUid = false;                  // restore
    std::optional<std::string> area;
    std::optional<std::string> hex;
    std::optional<std::string> mapFile;
    std::optional<std::string> productsFile;
    LinkModelKind linkModel = LinkModelKind::None; // the simulated readers' links
    bool coalesce = false;                         // Bluetooth reads of neighbouring areas together
    // program
    std::optional<int> count;              // stop after this many drivers
    std::optional<std::string> reportFile; // one JSON line per driver appended
    std::optional<std::string> increment;  // AREA.ITEM[=START]
    std::vector<std::string> tagFiles;     // the simulated drivers, one after another
    std::optional<std::string> saveDir;    // each simulated driver's final image
};

// Throws UsageError.
Options parseOptions(const std::vector<std::string>& arguments);

const char* usageText();

} // namespace wynfc::cli
