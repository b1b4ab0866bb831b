#pragma once

#include "data/json_records.h"
#include "data/product_feature.h"
#include "platform/bundle.h"
#include "platform/published.h"
#include "platform/web_view_host.h"
#include "readers/bluetooth_delegates.h"
#include "readers/reader_contract.h"
#include "readers/reader_platform.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace wynfc {

// The (device sub type, device type) an identification value list names, each -1 when it
// names none; a later item of the same name wins.
std::pair<std::int64_t, std::int64_t> deviceIdsOf(const std::vector<JsonDataItem>& identification);

// The work page's data object: the page's transport, the product table, the product
// check, and the route back to the page (the three event senders).
//
// Threads: setReaderMode and the event senders run on the main queue; readDeviceIds and
// checkProductSupported block on the reader and run on workers, never on the main queue.
// Create it with std::make_shared: the Bluetooth reader reports found readers to it weakly.
class NfcDataHandler : public BleScanDelegate, public std::enable_shared_from_this<NfcDataHandler> {
public:
    static constexpr const char* TAG = "------ NfcDataHandler ------";
    static constexpr const char* kIdentificationArea = "nfc_data_addr_dc_product_identification";

    // Loads the product table "product_features.json" from the bundle, once.
    NfcDataHandler(std::shared_ptr<const Bundle> bundle, ReaderPlatform platform);

    // Replaces the transport with a new one for the mode.
    void setReaderMode(ReaderMode mode);
    // The current transport; null before setReaderMode.
    std::shared_ptr<IReader> getReader() const;
    // Uses a transport made elsewhere (a host's own reader, a test's scripted one).
    void setReader(std::shared_ptr<IReader> reader);

    // The tag's (device sub type, device type), each -1 when not obtained.
    std::pair<std::int64_t, std::int64_t> readDeviceIds();
    // Reads the identification area and checks it against the product table.
    ResultObj checkProductSupported();

    const std::optional<ProductFeature>& productTable() const { return mProdFeature; }

    // BleScanDelegate: readers the Bluetooth reader's scan finds, each listed once.
    void addDiscoveredPeripheral(const std::shared_ptr<Peripheral>& peripheral) override;
    Published<std::vector<std::shared_ptr<Peripheral>>> discoveredPeripherals;

    // The web view the events go to; events sent before it is set are dropped.
    void setWebViewHandle(std::shared_ptr<WebViewHost> webView);

    // Page events; on the main queue.
    void sendUpdateEvent(const std::string& name, const std::string& json);
    void sendEvent(const std::string& event, const std::string& payload);
    void sendNotifyEvent(const std::string& payload);

private:
    // The identification area's text, if the read succeeded with one.
    struct IdentificationRead {
        bool succeeded = false;
        std::optional<std::string> text;
    };
    IdentificationRead readIdentification();
    void evaluate(const std::string& script);
    void loadProductTable(const Bundle& bundle);

    ReaderPlatform mPlatform;
    std::optional<ProductFeature> mProdFeature;
    mutable std::mutex mMutex;
    std::shared_ptr<IReader> mReader;
    std::shared_ptr<WebViewHost> mWebViewHandle;
};

} // namespace wynfc
