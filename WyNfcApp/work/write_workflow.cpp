// The write job: check the driver against the request's header, write each area's values,
// then seal the write with the check pattern.

#include "platform/console_log.h"
#include "readers/nfc_reader.h"
#include "work/work_page.h"

#include <charconv>
#include <string_view>
#include <vector>

namespace wynfc {
namespace {

constexpr const char* kCheckArea = "nfc_data_addr_dirty_bytes_checking";

// The header's pieces, split at "," with empty pieces dropped ("1,,2" gives 1 and 2).
std::vector<std::string_view> headerPieces(std::string_view header) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (start <= header.size()) {
        const size_t comma = std::min(header.find(',', start), header.size());
        if (comma > start) {
            pieces.push_back(header.substr(start, comma - start));
        }
        start = comma + 1;
    }
    return pieces;
}

// A decimal integer with one optional sign, "+" or "-", and nothing else ("+-5" is no number).
std::optional<std::int64_t> decimal(std::string_view text) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-')) {
            return std::nullopt;
        }
    }
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return number;
}

std::string checkPattern() {
    return encodePropJsonList({{"check_byte_01", 170, std::nullopt, std::nullopt},
                               {"check_byte_02", 85, std::nullopt, std::nullopt},
                               {"check_byte_03", 90, std::nullopt, std::nullopt},
                               {"check_byte_04", 165, std::nullopt, std::nullopt}});
}

} // namespace

void WorkPage::runWriteWorkflow(const std::string& data) {
    state.modify([](WorkPageState& s) {
        changeScanWorkStatus(s, RunStatus::PAUSE_STATUS);
        s.mDisableCancel = true;
    });
    const std::shared_ptr<IReader> reader = mDataHandler->getReader();
    const std::optional<Bytes> uid = reader ? reader->tagUid() : std::nullopt;

    // "<device type>,<device sub type>:<values>"; anything else is refused before the tag
    // is touched, and ends like a request the driver does not match: the session closes, or
    // the waiting popup closes (with Cancel enabled again), so that nobody is left waiting.
    const size_t colon = data.find(':');
    const auto pieces =
        headerPieces(std::string_view(data).substr(0, colon == std::string::npos ? 0 : colon));
    const auto values = colon == std::string::npos ? std::nullopt : decodeWriteValues(data.substr(colon + 1));
    if (colon == std::string::npos || pieces.size() < 2 || !values) {
        logLine(TAG, "Wrint data is incorrect format");
        failWrite("Data incorrect format");
        markRunEnded();
        reportRunEnd("write", false, uid);
        return;
    }
    const auto deviceType = decimal(pieces[0]);
    const auto deviceSubType = decimal(pieces[1]);

    const auto [tagSubType, tagType] = mDataHandler->readDeviceIds();
    if (!deviceType || !deviceSubType || *deviceType != tagType || *deviceSubType != tagSubType) {
        failWrite("Driver subtype is not match.");
        markRunEnded();
        reportRunEnd("write", false, uid);
        return;
    }
    if (tagType == -1 || tagSubType == -1) {
        failWrite("Read necessary data is failed");
        markRunEnded();
        reportRunEnd("write", false, uid);
        return;
    }

    bool ok = true;
    int written = 0;
    const int count = static_cast<int>(values->size());
    for (const WriteValuesType& entry : *values) {
        writeOneArea(entry, ok, written, count);
    }

    bool success = false;
    if (!ok) {
        showFailure("Write failed");
    } else if (mDataHandler->getReader()->writeByName(kCheckArea, checkPattern()).isOk()) {
        setProgress(static_cast<float>(written + 1) / static_cast<float>(count + 1));
        showCompleted();
        setScanWorkStatus(RunStatus::PAUSE_STATUS);
        success = true;
    } else {
        showProgress();
        showFailure("Write failed");
    }

    if (mMode == ReaderMode::NFC) {
        finishNfcSession(success ? "Write Completed" : "Write Failed", success);
    }
    markRunEnded();
    if (mMode == ReaderMode::BLE) {
        afterDelayedEnding([](WorkPage& page) { page.closeWaitingPopup(); });
    }
    reportRunEnd("write", success, uid);
}

void WorkPage::writeOneArea(const WriteValuesType& entry, bool& ok, int& written, int count) {
    if (!ok) {
        return;
    }
    ok = mDataHandler->getReader()->writeByName(entry.name, encodePropJsonList(entry.data)).isOk();
    if (ok) {
        ++written;
        state.modify([&](WorkPageState& s) {
            s.mProgressValue = static_cast<float>(written) / static_cast<float>(count + 1);
        });
    }
    showProgress();
}

void WorkPage::failWrite(const std::string& message) {
    showFailure(message);
    if (mMode == ReaderMode::NFC) {
        if (auto reader = std::dynamic_pointer_cast<NfcReader>(mDataHandler->getReader())) {
            reader->abortSession(message);
        }
    } else {
        afterDelayedEnding([](WorkPage& page) { page.closeWaitingPopup(); });
    }
}

} // namespace wynfc
