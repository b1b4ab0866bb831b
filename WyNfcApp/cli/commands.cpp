#include "cli/commands.h"

#include "cli/command_session.h"
#include "cli/driver_job.h"
#include "cli/library_output.h"
#include "cli/map_file.h"
#include "cli/page_host.h"
#include "cli/pcsc_readers.h"
#include "cli/printed_sheet.h"
#include "cli/report.h"
#include "cli/tag_blocks.h"
#include "cli/write_request.h"
#include "data/product_feature.h"
#include "platform/linux/application_bundle.h"
#include "platform/sim/folder_bundle.h"
#include "platform/sim/simulated_tag_reader.h"
#include "platform/sim/tag_image.h"
#include "readers/ble_reader.h"
#include "readers/ble_reader_blocks.h"
#include "readers/shared_api.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <time.h>
#include <unistd.h>

#ifndef WYNFC_VERSION
#error "WYNFC_VERSION must give the application's version"
#endif

namespace wynfc::cli {
namespace {

// A dump reads this many blocks at most: the readers address blocks with one byte.
constexpr int kDumpBlocks = 256;

// The tag on the chosen reader, for block work. An NFC reader's sheet is printed as the
// page's is; a Bluetooth reader is reached through the page, connected as for a job.
struct BlockSession {
    std::shared_ptr<SimulatedTagReaderService> simulation;
    std::shared_ptr<VirtualTag> simulatedTag;
    std::shared_ptr<PrintedSheetService> sheet;
    std::unique_ptr<PageHost> host;
    std::shared_ptr<BleReader> bleReader;
    std::unique_ptr<BlockAccess> tag;

    ~BlockSession() {
        tag.reset();
        bleReader.reset();
        host.reset();
        if (simulation) {
            simulation->waitIdle();
        }
    }
};

std::unique_ptr<BlockSession> openBlockSession(const Options& options) {
    auto session = std::make_unique<BlockSession>();
    const Timing times = timing();
    if (options.reader != ReaderChoice::Nfc && options.reader != ReaderChoice::Ble) {
        session->simulatedTag = loadTag(options);
    }
    if (isBluetooth(options.reader)) {
        session->host = std::make_unique<PageHost>(options.reader, bundleFor(options), session->simulatedTag,
                                                   times, options.device, options.pcscReader);
        session->host->open();
        session->bleReader = session->host->bleReader();
        if (!session->bleReader) {
            throw std::runtime_error("the Bluetooth NFC reader is not connected");
        }
        session->tag = std::make_unique<BleReaderBlocks>(*session->bleReader, times);
        return session;
    }
    std::shared_ptr<TagReaderService> readers;
    if (options.reader == ReaderChoice::Nfc) {
        readers = pcscReaders(options.pcscReader, times);
    } else {
        session->simulation = std::make_shared<SimulatedTagReaderService>();
        readers = session->simulation;
    }
    session->sheet = std::make_shared<PrintedSheetService>(readers, [](const std::string& line) {
        std::cerr << "NFC sheet: " + line + "\n" << std::flush;
    });
    session->tag = std::make_unique<TagBlocks>(*session->sheet, times, [&] {
        if (session->simulation) {
            session->simulation->present(session->simulatedTag);
        }
    });
    return session;
}

std::string blockText(int block) {
    return "block " + std::to_string(block);
}

} // namespace

int runDump(const Options& options, std::ostream& out) {
    auto session = openBlockSession(options);
    TagImage image;
    image.name = "dump";
    image.uid = session->tag->uid();
    if (image.uid.size() != TagImage::kUidSize) {
        session->tag->finish("Dump failed", false);
        out << "Failed: the tag's UID has " << image.uid.size() << " bytes, not " << TagImage::kUidSize
            << '\n';
        return 1;
    }
    // The tag's own count where it tells it; otherwise its first refused block ends it.
    const std::optional<int> told = session->tag->blockCount();
    const int blocks = told ? std::min(*told, kDumpBlocks) : kDumpBlocks;
    std::string ending = told ? "; the tag has " + std::to_string(*told) + " blocks" : "";
    if (told && *told > kDumpBlocks) {
        ending += ", of which the reader reaches the first " + std::to_string(kDumpBlocks);
    }
    for (int block = 0; block < blocks; ++block) {
        const BlockAccess::BlockRead read = session->tag->readBlock(block);
        if (!told && read.error && read.error->code == NfcError::kTagResponseError && block > 0) {
            // A tag answers blocks beyond its memory with an error: its memory ends here.
            ending = "; " + blockText(block) + " and beyond: the tag refused them (" +
                     read.error->description + "), taken as the end of its memory";
            break;
        }
        if (read.error || read.bytes.size() != TagImage::kBlockSize) {
            session->tag->finish("Dump failed", false);
            out << "Failed: " << blockText(block) << " could not be read: "
                << (read.error ? read.error->description
                               : "it has " + std::to_string(read.bytes.size()) + " bytes")
                << "\nNothing was saved.\n";
            return 1;
        }
        image.memory.insert(image.memory.end(), read.bytes.begin(), read.bytes.end());
        ++image.blockCount;
    }
    image.description = "Every block of the tag " + toHex(image.uid) + ", read by wynfc dump";
    session->tag->finish("Dump completed", true);
    try {
        saveTagImage(image, *options.outFile);
    } catch (const std::exception& error) {
        throw UsageError(std::string("cannot save the tag image: ") + error.what());
    }
    out << "Dumped " << image.blockCount << " block(s) of the tag " << toHex(image.uid) << " into "
        << *options.outFile << ending << '\n';
    return 0;
}

int runRestore(const Options& options, std::ostream& out) {
    TagImage image;
    try {
        image = loadTagImage(*options.imageFile);
    } catch (const std::exception& error) {
        throw UsageError(std::string("cannot use the tag image: ") + error.what());
    }
    auto session = openBlockSession(options);
    BlockAccess& tag = *session->tag;
    if (tag.uid() != image.uid && !options.anyUid) {
        tag.finish("Restore refused", false);
        out << "Refused: the image is of the tag " << toHex(image.uid) << ", this tag is " << toHex(tag.uid())
            << " (--any-uid restores it anyway)\n";
        return 1;
    }
    int written = 0;
    int unchanged = 0;
    std::vector<std::string> failures;
    const int blocks = std::min(image.blockCount, kDumpBlocks);
    for (int block = 0; block < blocks; ++block) {
        const auto first = image.memory.begin() + static_cast<std::ptrdiff_t>(block) * TagImage::kBlockSize;
        const Bytes wanted(first, first + TagImage::kBlockSize);
        const BlockAccess::BlockRead before = tag.readBlock(block);
        std::optional<NfcError> error = before.error;
        if (!error && before.bytes == wanted) {
            ++unchanged;
            continue;
        }
        if (!error) {
            error = tag.writeBlock(block, wanted);
        }
        if (!error) {
            const BlockAccess::BlockRead after = tag.readBlock(block);
            error = after.error;
            if (!error && after.bytes != wanted) {
                failures.push_back(blockText(block) + ": reads back as " + toHex(after.bytes) + ", not " +
                                   toHex(wanted));
                continue;
            }
            if (!error) {
                ++written;
                continue;
            }
        }
        failures.push_back(blockText(block) + ": " + error->description);
        if (error->code == NfcError::kTagConnectionLost ||
            error->code == NfcError::kSessionTerminatedUnexpectedly ||
            error->code == NfcError::kSessionInvalidated) {
            failures.push_back("blocks " + std::to_string(block + 1) + " to " + std::to_string(blocks - 1) +
                               ": not restored, the tag is out of reach");
            break;
        }
    }
    tag.finish(failures.empty() ? "Restore completed" : "Restore failed", failures.empty());
    if (options.saveFile && session->simulatedTag) {
        session->simulatedTag->save(*options.saveFile);
    }
    for (const std::string& failure : failures) {
        out << "Failed: " << failure << '\n';
    }
    out << "Restored: " << written << " block(s) written and read back, " << unchanged << " unchanged, "
        << failures.size() << " failure(s)\n";
    return failures.empty() ? 0 : 1;
}

int runRead(const Options& options, std::ostream& out) {
    loadMap(options);
    Session session = openSession(options, out);
    const JobOutcome outcome = runJob(session, options, "read", [&] { return session.host->read(); });
    endProgress();
    if (!options.json) {
        printEvents(out, session.host->events());
    }
    printLinkReports(out, options, session);
    printOutcome(out, options, outcome);
    return outcome.completed ? 0 : 1;
}

int runWrite(const Options& options, std::ostream& out) {
    const MapFile map = loadMap(options);
    WriteList list;
    if (options.valuesFile) {
        list = writeListFromJson(readFile(*options.valuesFile, "values file"),
                                 map); // before touching the driver
    }
    Session session = openSession(options, out);
    DriverJob driver(session, options, map);

    const JobOutcome read = driver.read();
    if (!read.completed) {
        endProgress();
        if (!options.json) {
            out << "The driver could not be read; nothing was written.\n";
        }
        printLinkReports(out, options, session);
        printOutcome(out, options, read);
        return 1;
    }
    if (!options.sets.empty()) {
        list = writeListFromSets(options.sets, map, driver.readValues());
    }
    if (const std::vector<std::string> missing = driver.areasNotRead(list);
        !missing.empty() && options.sets.empty()) {
        // A profile from another driver: the areas this driver has are written, as the page's
        // import takes them, and the others are named.
        std::erase_if(list, [&](const WriteValuesType& group) {
            return std::find(missing.begin(), missing.end(), group.name) != missing.end();
        });
        if (options.json) {
            out << nlohmann::json{{"skipped", missing}}.dump() << '\n';
        } else {
            out << "Skipped: the driver does not announce " << joinNames(missing) << "; "
                << (list.empty() ? "nothing is left to write" : "the other areas are written") << ".\n";
        }
    }
    if (const std::vector<std::string> missing = driver.areasNotRead(list);
        !missing.empty() || list.empty()) {
        // --set naming an area the driver does not announce: the user asked for that very value.
        endProgress();
        printLinkReports(out, options, session);
        const std::string why = missing.empty() ? "none of the values is for an area the driver announces"
                                                : "the driver does not announce " + joinNames(missing);
        if (options.json) {
            printOutcome(out, options, JobOutcome{"Refused", why + "; nothing was written"});
        } else {
            out << "Refused: " << why << "; nothing was written.\n";
        }
        return 1;
    }

    const JobOutcome written = driver.write(list);
    if (options.saveFile) {
        session.tag->save(*options.saveFile);
    }
    if (!written.completed || !options.verify) {
        endProgress();
        printLinkReports(out, options, session);
        printOutcome(out, options, written);
        return written.completed ? 0 : 1;
    }

    const std::vector<std::string>& mismatches = driver.verify();
    endProgress();
    printLinkReports(out, options, session);
    if (options.json) {
        nlohmann::ordered_json outcome = nlohmann::ordered_json::parse(outcomeJson(written));
        outcome["verified"] = mismatches.empty();
        outcome["mismatches"] = mismatches;
        out << outcome.dump() << '\n';
    } else {
        printOutcome(out, options, written);
        if (mismatches.empty()) {
            out << "Verified: " << driver.valueCount() << " value(s) in " << list.size()
                << " area(s) read back as written.\n";
        }
        for (const std::string& mismatch : mismatches) {
            out << "Mismatch: " << mismatch << '\n';
        }
    }
    return mismatches.empty() ? 0 : 1;
}

int runDecode(const Options& options, std::ostream& out) {
    loadMap(options);
    const std::string area = *options.area;
    const auto properties = sharedApi().getNFCProductPropertiesJsonByName(area);
    if (!properties) {
        throw UsageError("no memory area \"" + area + "\" (see: wynfc areas)");
    }
    Bytes bytes;
    if (options.hex) {
        const auto parsed = parseHex(*options.hex);
        if (!parsed) {
            throw UsageError("--hex: \"" + *options.hex + "\" is not hexadecimal bytes (e.g. \"0A 1B 2C\")");
        }
        bytes = *parsed;
    } else {
        const auto description = nlohmann::json::parse(*properties);
        const auto tag = loadTag(options);
        try {
            bytes = tag->blockBytes(description["startAddress"].get<int>() / 4,
                                    description["normBlockCount"].get<int>());
        } catch (const std::out_of_range&) {
            throw UsageError("the tag image is too small for " + area);
        }
    }
    std::string diagnostics;
    const auto values = withLibraryOutputCaptured(
        diagnostics, [&] { return sharedApi().getJsonValuesFromDataByName(area, numbersFromBytes(bytes)); });
    if (!values) {
        std::cerr << diagnostics;
        return 1;
    }
    if (options.json) {
        out << *values << '\n';
    } else {
        out << "[" << area << "] " << bytes.size() << " bytes\n";
        printValues(out, *values, "  ");
    }
    return 0;
}

int runAreas(const Options& options, std::ostream& out) {
    const MapFile map = loadMap(options);
    if (options.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const MapArea& area : map.areas()) {
            list.push_back({{"name", area.name},
                            {"startAddress", area.startAddress},
                            {"byteCount", area.byteCount},
                            {"firstBlock", area.firstBlock()},
                            {"blockCount", area.blockCount()}});
        }
        out << list.dump() << '\n';
        return 0;
    }
    for (const MapArea& area : map.areas()) {
        const int last = area.firstBlock() + std::max(area.blockCount(), 1) - 1;
        char line[160];
        std::snprintf(line, sizeof line, "%-42s blocks %3d-%3d  %3d bytes  %zu items\n", area.name.c_str(),
                      area.firstBlock(), last, area.byteCount, area.items.size());
        out << line;
    }
    return 0;
}

int runVersion(const Options& options, std::ostream& out) {
    loadMap(options);
    Options nfc = options;
    nfc.reader = ReaderChoice::SimNfc; // no reader needed: the page answers by itself
    PageHost host(nfc.reader, bundleFor(options), loadTag(options), timing());
    host.open();
    out << host.version() << '\n';
    return 0;
}

} // namespace wynfc::cli
