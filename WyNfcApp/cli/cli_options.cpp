#include "cli/cli_options.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>

namespace wynfc::cli {
namespace {

const std::map<std::string, Command> kCommands = {
    {"read", Command::Read},   {"write", Command::Write},     {"program", Command::Program},
    {"dump", Command::Dump},   {"restore", Command::Restore}, {"decode", Command::Decode},
    {"areas", Command::Areas}, {"version", Command::Version}, {"help", Command::Help},
};

// Which options each command takes (besides the common --map, --products, --help).
const std::map<Command, std::set<std::string>> kAllowed = {
    {Command::Read,
     {"--reader", "--device", "--pcsc-reader", "--tag", "--json", "--link-model", "--coalesce"}},
    {Command::Write,
     {"--reader", "--device", "--pcsc-reader", "--tag", "--save", "--values", "--set", "--no-verify",
      "--json", "--link-model", "--coalesce"}},
    {Command::Program,
     {"--reader", "--device", "--pcsc-reader", "--values", "--count", "--report", "--increment", "--tags",
      "--save-dir", "--json", "--link-model"}},
    {Command::Dump, {"--reader", "--device", "--pcsc-reader", "--tag", "--out"}},
    {Command::Restore, {"--reader", "--device", "--pcsc-reader", "--tag", "--save", "--image", "--any-uid"}},
    {Command::Decode, {"--area", "--hex", "--tag", "--json"}},
    {Command::Areas, {"--json"}},
    {Command::Version, {}},
    {Command::Help, {}},
    {Command::ProgramVersion, {}},
};

const std::set<std::string> kTakesValue = {
    "--reader", "--device", "--pcsc-reader", "--tag",      "--save",    "--values", "--set",
    "--area",   "--hex",    "--map",         "--products", "--out",     "--image",  "--link-model",
    "--count",  "--report", "--increment",   "--tags",     "--save-dir"};

// "A.json,B.json" -> its pieces; empty pieces are kept, to be refused.
std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        pieces.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            return pieces;
        }
        start = comma + 1;
    }
}

} // namespace

const char* usageText() {
    return R"(Usage: wynfc COMMAND [OPTIONS]

Reads and writes the settings of LED drivers with an NFC tag, through a USB NFC reader (PC/SC),
a Bluetooth NFC reader (a FEIG "Smart HF-BLE") or on the built-in simulated driver and readers.

Commands:
  read    [--reader sim-nfc|sim-ble|ble|nfc] [--device NAME|ADDRESS] [--pcsc-reader NAME]
          [--tag FILE] [--json] [--link-model ble|nfc|none] [--coalesce]
          Read a driver: identification, product description and every memory area it announces.
  write   [--reader ...] [--device ...] [--pcsc-reader ...] [--tag FILE] [--save FILE]
          (--values FILE | --set AREA.ITEM[.BIT]=VALUE ...) [--no-verify] [--json]
          [--link-model ble|nfc|none] [--coalesce]
          Read the driver, write the values, then read it again and check them (unless --no-verify).
          VALUE: a decimal or 0x-hexadecimal number; a decimal number for "bigint" items; comma-
          separated hexadecimal bytes for "array" items; 0 or 1 for a bit.
  program --values PROFILE [--reader ...] [--device ...] [--pcsc-reader ...] [--count N]
          [--report FILE] [--increment AREA.ITEM[=START]] [--tags FILE,FILE,...]
          [--save-dir DIR] [--json] [--link-model ble|nfc|none]
          Program driver after driver with one profile, each as write does it (read, product
          check, write, verify read), one line per driver, until N drivers, the end of --tags,
          or Ctrl-C; then a summary. A driver must leave the reader before the next one counts:
          one still there (its UID already handled in this run) is not written again. A driver
          of another device type or sub type than the first one programmed is refused.
  dump    [--reader ...] [--device ...] [--pcsc-reader ...] [--tag FILE] --out FILE
          Read every block of the tag into a tag image file like the shipped samples: as many as
          the tag says it has, else 256 or up to the first it refuses. Default reader: sim-nfc.
  restore [--reader ...] [--device ...] [--pcsc-reader ...] [--tag FILE] [--save FILE]
          --image FILE [--any-uid]
          Write a tag image back: only the blocks that differ, each read back. An image of
          another tag (UID) is refused unless --any-uid. Lists the blocks that failed.
  decode  --area NAME (--hex HEX | --tag FILE) [--json]
          Decode one memory area from bytes or from a driver tag image.
  areas   [--json]
          List the memory areas of the address map with their blocks.
  version
          The version text the configuration page is given.

Options:
  --reader sim-nfc|sim-ble|ble|nfc
                            the simulated directly attached NFC reader, the simulated Bluetooth
                            reader (default sim-ble), a real Bluetooth NFC reader through BlueZ,
                            or a real NFC reader attached to this machine, through pcscd
  --device NAME|ADDRESS     with --reader ble: the reader with this name or Bluetooth address
                            (default: the first reader found)
  --pcsc-reader NAME        with --reader nfc: only the readers whose name holds NAME (default:
                            every reader; the tag is looked for on all of them)
  --tag FILE                simulated driver's tag image (default: the shipped full_feature sample)
  --save FILE               write the simulated tag's memory to FILE after the job
  --count N                 program: stop after N drivers (programmed, refused, failed or
                            interrupted; a driver met again is not counted)
  --report FILE             program: append one JSON line per driver to FILE (time in UTC,
                            UID, device type and sub type, values written, result, verify
                            outcome, increment value), written out to the disk after each driver
  --increment AREA.ITEM[=START]
                            program: each programmed driver gets the next value of this number
                            item, from START (default: the profile's value, else the item's
                            minimum) up to the item's maximum; the run stops when none is left
  --tags FILE,FILE,...      program: the simulated drivers, laid on the reader one after
                            another, each leaving it when its job has ended; a file listed twice
                            in a row is a driver left on the reader (default: the shipped
                            full_feature sample)
  --save-dir DIR            program: write each simulated driver's final image into DIR, named
                            as its tag image file (A.json for .../A.json)
  --json                    machine-readable output: one JSON object per line
  --link-model ble|nfc|none the simulated reader answers no sooner than a real one would: ble
                            (with sim-ble) models the Bluetooth link and the reader's exchange
                            with the tag, nfc (with sim-nfc) the tag's radio link; after each
                            job a line gives its round trips, the modelled link time and the
                            time the job took (default none: answers at once)
  --coalesce                with a Bluetooth reader (ble, sim-ble): read neighbouring memory
                            areas together, up to 32 blocks in one command, for fewer round
                            trips; what is read is the same (default: one command per area)
  --map FILE                address map (default: the shipped one)
  --products FILE           product table (default: the shipped one)
  --help                    this text
  --version                 the program's version (after a command too, like --help)

Exit status: 0 when the job completed (program: every driver counted was programmed), 1 when it
failed, the product is not supported, the reader could not be reached or no tag was presented to
it (program: a driver was refused, failed or interrupted, or the increment's range ran out), 2
for usage errors and unreadable or malformed input files.
)";
}

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    if (arguments.empty()) {
        throw UsageError("no command given");
    }
    const auto command = kCommands.find(arguments[0]);
    if (command == kCommands.end()) {
        if (arguments[0] == "--help" || arguments[0] == "-h") {
            return options;
        }
        if (arguments[0] == "--version") {
            options.command = Command::ProgramVersion;
            return options;
        }
        throw UsageError("unknown command \"" + arguments[0] + "\"");
    }
    options.command = command->second;
    bool readerGiven = false;

    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        if (option == "--help" || option == "-h") {
            // Only the usage is shown: nothing read before it is kept half checked.
            Options help;
            help.command = Command::Help;
            return help;
        }
        if (option == "--version") {
            Options version;
            version.command = Command::ProgramVersion;
            return version;
        }
        const bool common = option == "--map" || option == "--products";
        if (!common && kAllowed.at(options.command).count(option) == 0) {
            throw UsageError("\"" + option + "\" is not an option of \"" + arguments[0] + "\"");
        }
        std::string value;
        if (kTakesValue.count(option) != 0) {
            if (i + 1 >= arguments.size()) {
                throw UsageError(option + " needs a value");
            }
            value = arguments[++i];
        }
        if (option == "--reader") {
            readerGiven = true;
            if (value == "sim-nfc") {
                options.reader = ReaderChoice::SimNfc;
            } else if (value == "sim-ble") {
                options.reader = ReaderChoice::SimBle;
            } else if (value == "ble") {
                options.reader = ReaderChoice::Ble;
            } else if (value == "nfc") {
                options.reader = ReaderChoice::Nfc;
            } else {
                throw UsageError("unknown reader \"" + value + "\" (sim-nfc, sim-ble, ble or nfc)");
            }
        } else if (option == "--device") {
            options.device = value;
        } else if (option == "--pcsc-reader") {
            options.pcscReader = value;
        } else if (option == "--tag") {
            options.tagFile = value;
        } else if (option == "--save") {
            options.saveFile = value;
        } else if (option == "--values") {
            options.valuesFile = value;
        } else if (option == "--set") {
            options.sets.push_back(value);
        } else if (option == "--no-verify") {
            options.verify = false;
        } else if (option == "--json") {
            options.json = true;
        } else if (option == "--out") {
            options.outFile = value;
        } else if (option == "--image") {
            options.imageFile = value;
        } else if (option == "--any-uid") {
            options.anyUid = true;
        } else if (option == "--area") {
            options.area = value;
        } else if (option == "--hex") {
            options.hex = value;
        } else if (option == "--map") {
            options.mapFile = value;
        } else if (option == "--products") {
            options.productsFile = value;
        } else if (option == "--count") {
            int count = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), count);
            if (value.empty() || error != std::errc() || end != value.data() + value.size() || count < 1) {
                throw UsageError("--count: \"" + value + "\" is not a whole number of drivers, 1 or more");
            }
            options.count = count;
        } else if (option == "--report") {
            options.reportFile = value;
        } else if (option == "--increment") {
            options.increment = value;
        } else if (option == "--tags") {
            options.tagFiles = splitList(value);
            if (options.tagFiles.empty() ||
                std::any_of(options.tagFiles.begin(), options.tagFiles.end(),
                            [](const std::string& file) { return file.empty(); })) {
                throw UsageError("--tags: \"" + value +
                                 "\" is not a comma-separated list of tag image files");
            }
        } else if (option == "--save-dir") {
            options.saveDir = value;
        } else if (option == "--coalesce") {
            options.coalesce = true;
        } else if (option == "--link-model") {
            const auto kind = linkModelFromName(value);
            if (!kind) {
                throw UsageError("unknown link model \"" + value + "\" (ble, nfc or none)");
            }
            options.linkModel = *kind;
        }
    }

    const char* realReader = options.reader == ReaderChoice::Ble ? "ble" : "nfc";
    if (isReal(options.reader) && (options.tagFile || options.saveFile)) {
        throw UsageError(std::string("--tag and --save are for the simulated driver, not with --reader ") +
                         realReader);
    }
    if (isReal(options.reader) && (!options.tagFiles.empty() || options.saveDir)) {
        throw UsageError(
            std::string("--tags and --save-dir are for the simulated drivers, not with --reader ") +
            realReader);
    }
    if (options.pcscReader && options.reader != ReaderChoice::Nfc) {
        throw UsageError("--pcsc-reader goes with --reader nfc");
    }
    if (options.device && options.reader != ReaderChoice::Ble) {
        throw UsageError("--device goes with --reader ble");
    }
    if (options.linkModel == LinkModelKind::Ble && options.reader != ReaderChoice::SimBle) {
        throw UsageError(
            "--link-model ble models the simulated Bluetooth reader: it goes with --reader sim-ble");
    }
    if (options.linkModel == LinkModelKind::Nfc && options.reader != ReaderChoice::SimNfc) {
        throw UsageError("--link-model nfc models the simulated NFC reader: it goes with --reader sim-nfc");
    }
    if (options.coalesce && !isBluetooth(options.reader)) {
        throw UsageError("--coalesce is for a Bluetooth reader: it goes with --reader sim-ble or ble");
    }
    if (options.command == Command::Write && options.valuesFile.has_value() == !options.sets.empty()) {
        throw UsageError("write needs either --values FILE or one or more --set AREA.ITEM[.BIT]=VALUE");
    }
    if (options.command == Command::Program && !options.valuesFile) {
        throw UsageError("program needs --values PROFILE (the values every driver gets)");
    }
    const bool blockWork = options.command == Command::Dump || options.command == Command::Restore;
    if (blockWork && !readerGiven) {
        options.reader = ReaderChoice::SimNfc;
    }
    if (options.command == Command::Dump && !options.outFile) {
        throw UsageError("dump needs --out FILE");
    }
    if (options.command == Command::Restore && !options.imageFile) {
        throw UsageError("restore needs --image FILE");
    }
    if (options.command == Command::Decode) {
        if (!options.area) {
            throw UsageError("decode needs --area NAME");
        }
        if (options.hex.has_value() == options.tagFile.has_value()) {
            throw UsageError("decode needs either --hex HEX or --tag FILE");
        }
    }
    return options;
}

} // namespace wynfc::cli
