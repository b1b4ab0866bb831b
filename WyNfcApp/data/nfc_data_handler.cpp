#include "data/nfc_data_handler.h"

#include "data/json_records.h"
#include "platform/console_log.h"
#include "readers/ble_reader.h"
#include "readers/nfc_reader.h"
#include "web/page_events.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace wynfc {
namespace {

constexpr auto kNotObtained = std::int64_t{-1};

// JSON codes read back as signed 64-bit numbers; larger ones cannot be a product code.
std::optional<std::int64_t> codeOf(const JsonDataItem& item) {
    if (item.value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(item.value);
}

} // namespace

NfcDataHandler::NfcDataHandler(std::shared_ptr<const Bundle> bundle, ReaderPlatform platform)
    : mPlatform(std::move(platform)) {
    if (bundle) {
        loadProductTable(*bundle);
    }
}

void NfcDataHandler::loadProductTable(const Bundle& bundle) {
    const auto path = bundle.pathForResource("product_features", "json");
    if (!path) {
        return;
    }
    std::ifstream file(*path, std::ios::binary);
    if (!file) {
        logLine(TAG, "Read error " + path->string() + ": " + std::strerror(errno));
        return;
    }
    std::ostringstream text;
    text << file.rdbuf();
    std::string error;
    mProdFeature = decodeProductFeature(text.str(), &error);
    if (!mProdFeature) {
        logLine(TAG, "The product table " + path->string() + " does not decode: " + error);
    }
}

void NfcDataHandler::setReaderMode(ReaderMode mode) {
    std::shared_ptr<IReader> reader;
    if (mode == ReaderMode::BLE) {
        auto bleReader = std::make_shared<BleReader>(mPlatform.centralManagerFactory, *mPlatform.mainQueue,
                                                     mPlatform.timing);
        bleReader->setScanDelegate(weak_from_this());
        reader = std::move(bleReader);
    } else {
        reader = std::make_shared<NfcReader>(mPlatform.tagReaderService, mPlatform.timing);
    }
    setReader(std::move(reader));
}

void NfcDataHandler::setReader(std::shared_ptr<IReader> reader) {
    std::lock_guard lock(mMutex);
    mReader = std::move(reader);
}

std::shared_ptr<IReader> NfcDataHandler::getReader() const {
    std::lock_guard lock(mMutex);
    return mReader;
}

NfcDataHandler::IdentificationRead NfcDataHandler::readIdentification() {
    const std::shared_ptr<IReader> reader = getReader();
    if (!reader) {
        return {};
    }
    ResultObj result = reader->readByName(kIdentificationArea);
    return {result.isOk(), std::move(result.data)};
}

std::pair<std::int64_t, std::int64_t> deviceIdsOf(const std::vector<JsonDataItem>& identification) {
    std::int64_t deviceSubType = kNotObtained;
    std::int64_t deviceType = kNotObtained;
    for (const JsonDataItem& item : identification) {
        if (item.name == "device_sub_type") {
            deviceSubType = codeOf(item).value_or(kNotObtained);
        } else if (item.name == "device_type") {
            deviceType = codeOf(item).value_or(kNotObtained);
        }
    }
    return {deviceSubType, deviceType};
}

std::pair<std::int64_t, std::int64_t> NfcDataHandler::readDeviceIds() {
    const IdentificationRead read = readIdentification();
    const auto items = read.succeeded && read.text ? decodeJsonDataItems(*read.text) : std::nullopt;
    return deviceIdsOf(items.value_or(std::vector<JsonDataItem>{}));
}

ResultObj NfcDataHandler::checkProductSupported() {
    if (!getReader()) {
        return ResultObj::failure("Reader is invalid");
    }
    const IdentificationRead read = readIdentification();
    if (!read.succeeded) {
        return ResultObj::failure("Read driver info failed");
    }
    if (!read.text) {
        return {};
    }
    const auto items = decodeJsonDataItems(*read.text);
    bool typeFound = false;
    bool subTypeFound = false;
    for (const JsonDataItem& item : items.value_or(std::vector<JsonDataItem>{})) {
        const auto code = codeOf(item);
        if (!code || !mProdFeature) {
            continue;
        }
        if (item.name == "device_type" && mProdFeature->supportsDeviceType(*code)) {
            typeFound = true;
        } else if (item.name == "device_sub_type" && mProdFeature->supportsDeviceSubType(*code)) {
            subTypeFound = true;
        }
    }
    if (typeFound && subTypeFound) {
        return ResultObj::ok(std::nullopt, *read.text);
    }
    return ResultObj::failure(*read.text);
}

void NfcDataHandler::addDiscoveredPeripheral(const std::shared_ptr<Peripheral>& peripheral) {
    discoveredPeripherals.modify([&](std::vector<std::shared_ptr<Peripheral>>& list) {
        if (std::find(list.begin(), list.end(), peripheral) == list.end()) {
            list.push_back(peripheral);
        }
    });
}

void NfcDataHandler::setWebViewHandle(std::shared_ptr<WebViewHost> webView) {
    std::lock_guard lock(mMutex);
    mWebViewHandle = std::move(webView);
}

void NfcDataHandler::evaluate(const std::string& script) {
    std::shared_ptr<WebViewHost> webView;
    {
        std::lock_guard lock(mMutex);
        webView = mWebViewHandle;
    }
    if (webView) {
        webView->evaluateScript(script);
    }
}

void NfcDataHandler::sendUpdateEvent(const std::string& name, const std::string& json) {
    evaluate(updateEventScript(name, json));
}

void NfcDataHandler::sendEvent(const std::string& event, const std::string& payload) {
    evaluate(eventScript(event, payload));
}

void NfcDataHandler::sendNotifyEvent(const std::string& payload) {
    evaluate(notifyEventScript(payload));
}

} // namespace wynfc
