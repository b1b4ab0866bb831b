// The read job: presence, product check, product description, capability list, then
// every memory area the capability list announces, each pushed to the page.

#include "platform/console_log.h"
#include "web/page_events.h"
#include "work/work_page.h"

#include <array>
#include <string>
#include <vector>

namespace wynfc {
namespace {

using Flag = CapabilityFlags::Flag;

// One progress step: an area and its page key, and for two-channel drivers (warm and cold
// white) the second channel's area, read in the same step whatever the first gave.
struct ReadStep {
    Flag flag;
    const char* area;
    const char* key;
    const char* secondArea;
    const char* secondKey;
};

constexpr std::array<ReadStep, 14> kReadSteps = {{
    {Flag::mb1, "nfc_data_addr_dc_memory_bank_01", "memory_bank_01_data", nullptr, nullptr},
    {Flag::mb207, "nfc_data_addr_dc_memory_bank_207", "memory_bank_207_data", nullptr, nullptr},
    {Flag::mb1, "nfc_data_addr_mb1_light_distribution", "memory_bank_01_light_distribution_data", nullptr,
     nullptr},
    {Flag::aoc, "nfc_data_addr_dc_aoc", "aoc_data", nullptr, nullptr},
    {Flag::clo, "nfc_data_addr_dc_clo", "clo_data", "nfc_data_addr_dc_clo2", "clo2_data"},
    {Flag::corridor, "nfc_data_addr_dc_corridor", "corridor_data", nullptr, nullptr},
    {Flag::dali_min_dim_level, "nfc_data_addr_dc_dim_percentage_limit", "dimming_limit_data",
     "nfc_data_addr_dc_dim_percentage_limit2", "dimming_limit2_data"},
    {Flag::dc_emergency, "nfc_data_addr_dc_diagnostics_set", "dc_emergency_data",
     "nfc_data_addr_dc_diagnostics_set2", "dc_emergency2_data"},
    {Flag::diagnostics_read, "nfc_data_addr_dc_diagnostics_read", "diagnostics_data",
     "nfc_data_addr_dc_diagnostics_read2", "diagnostics2_data"},
    {Flag::lamp_on_time, "nfc_data_addr_dc_diagnostics_set", "lamp_on_time_data",
     "nfc_data_addr_dc_diagnostics_set2", "lamp_on_time2_data"},
    {Flag::dali_setting, "nfc_data_addr_dc_dali_setting", "dali_setting_data",
     "nfc_data_addr_dc_dali_setting2", "dali_setting2_data"},
    {Flag::dali_addressing, "nfc_data_addr_dc_dali_addressing", "dali_address_data", nullptr, nullptr},
    {Flag::warm_and_cold_white, "nfc_data_addr_dc_ww_cw", "warm_cold_white_data", nullptr, nullptr},
    {Flag::start_up_time, "nfc_data_addr_dc_start_up_time", "start_up_time_data", nullptr, nullptr},
}};

constexpr const char* kPropertiesArea = "nfc_data_addr_led_product_properties";
constexpr const char* kCapabilitiesArea = "nfc_data_addr_dc_capabilities_options";
constexpr const char* kGtinArea = "nfc_data_addr_driver_gtin";

// The areas the steps will read for these capabilities.
std::vector<std::string> stepAreas(const CapabilityFlags& flags) {
    std::vector<std::string> areas;
    for (const ReadStep& step : kReadSteps) {
        if (flags.isSet(step.flag)) {
            areas.emplace_back(step.area);
            if (step.secondArea != nullptr && flags.isSet(Flag::warm_and_cold_white)) {
                areas.emplace_back(step.secondArea);
            }
        }
    }
    return areas;
}

// Tells the reader which areas come next, and that none do once the job is over.
class ReadPlan {
public:
    explicit ReadPlan(IReader& reader) : mReader(reader) {}
    ReadPlan(const ReadPlan&) = delete;
    ReadPlan& operator=(const ReadPlan&) = delete;
    ~ReadPlan() { mReader.planReads({}); }

    void next(const std::vector<std::string>& areas) { mReader.planReads(areas); }

private:
    IReader& mReader;
};

} // namespace

std::optional<std::string> areaForUpdateKey(std::string_view key) {
    for (const ReadStep& step : kReadSteps) {
        if (key == step.key) {
            return step.area;
        }
        if (step.secondKey != nullptr && key == step.secondKey) {
            return step.secondArea;
        }
    }
    return std::nullopt;
}

// Reads one area and, when it came with its values, hands them to the page.
void WorkPage::readArea(const std::string& area, const std::string& key, bool& readOk) {
    const ResultObj result = mDataHandler->getReader()->readByName(area);
    if (!result.isOk() || !result.data) {
        readOk = false; // an area without values cannot be shown either
        return;
    }
    onMainQueue([&] { mDataHandler->sendUpdateEvent(key, *result.data); });
    readOk = true;
}

void WorkPage::runReadWorkflow() {
    const std::shared_ptr<IReader> reader = mDataHandler->getReader();
    if (!reader || !reader->readByName(kScanNfc).isOk()) {
        return; // no tag: not a run
    }
    state.modify([](WorkPageState& s) { s.mDisableCancel = true; });
    const std::optional<Bytes> uid = reader->tagUid();

    ReadPlan plan(*reader);
    plan.next({NfcDataHandler::kIdentificationArea, kPropertiesArea, kCapabilitiesArea, kGtinArea});
    const ResultObj identification = mDataHandler->checkProductSupported();
    bool readOk = false;
    // Neither a verdict nor a text is no identification either.
    if (!identification.isOk() || !identification.data) {
        showNotSupported();
    } else {
        onMainQueue([&] { mDataHandler->sendUpdateEvent("identification", *identification.data); });

        const ResultObj properties = reader->readByName(kPropertiesArea);
        const ResultObj capabilities = reader->readByName(kCapabilitiesArea);
        const ResultObj gtin = reader->readByName(kGtinArea);
        const bool described = properties.isOk() && properties.data && capabilities.isOk() &&
                               capabilities.data && gtin.isOk() && gtin.data;
        if (described) {
            const std::string spec = *capabilities.data + "#" + *properties.data + "#" + *gtin.data;
            onMainQueue([&] { mDataHandler->sendUpdateEvent("spec", spec); });

            readOk = true;
            CapabilityFlags flags;
            const ResultObj capabilityList = reader->readByName(kCapabilitiesArea);
            const auto items = capabilityList.isOk() && capabilityList.data
                                   ? decodeJsonDataItems(*capabilityList.data)
                                   : std::nullopt;
            if (!items) {
                readOk = false; // without the capability list there is nothing to read
            } else {
                for (const JsonDataItem& item : *items) {
                    flags.parseCapability(item);
                }
                plan.next(stepAreas(flags));
            }

            int step = 0;
            for (const ReadStep& readStep : kReadSteps) {
                if (!readOk) {
                    break;
                }
                if (!flags.isSet(readStep.flag)) {
                    continue;
                }
                readArea(readStep.area, readStep.key, readOk);
                if (readStep.secondArea != nullptr && flags.isSet(Flag::warm_and_cold_white)) {
                    readArea(readStep.secondArea, readStep.secondKey, readOk);
                }
                ++step;
                setProgress(static_cast<float>(step) / static_cast<float>(flags.stepTotal()));
            }

            if (readOk) {
                showCompleted();
            } else {
                showFailure("functional data");
            }
        }
    }

    // Ending.
    if (readOk) {
        setScanWorkStatus(RunStatus::PAUSE_STATUS);
    } else if (mMode == ReaderMode::BLE) {
        state.modify([](WorkPageState& s) {
            changeScanWorkStatus(s, RunStatus::RUNNING_STATUS); // the scan loop tries again
            s.mDisableCancel = false;
        });
    }
    state.modify([&](WorkPageState& s) { s.mReadFailed = !readOk; });
    if (mMode == ReaderMode::NFC) {
        finishNfcSession(readOk ? "Read Completed" : "Read Failed", readOk);
    }
    markRunEnded();
    if (mMode == ReaderMode::BLE) {
        afterDelayedEnding([identified = identification.isOk(), readOk](WorkPage& page) {
            page.showWaiting();
            if (identified && readOk) {
                page.state.modify([](WorkPageState& s) {
                    s.mShowBLEOperatePopup = false;
                    changeScanWorkStatus(s, RunStatus::PAUSE_STATUS);
                    s.mDisableCancel = false;
                });
            }
        });
    }
    reportRunEnd("read", readOk, uid);
}

void WorkPage::writeModePresenceStep() {
    const std::shared_ptr<IReader> reader = mDataHandler->getReader();
    if (reader && reader->readByName(kScanNfc).isOk()) {
        onMainQueue([&] { mDataHandler->sendNotifyEvent(kWriteEventPayload); });
    }
}

} // namespace wynfc
