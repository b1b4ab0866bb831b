#include "work/capability_flags.h"

namespace wynfc {
namespace {

struct CapabilityItem {
    std::string_view name;
    int steps;
};

// In the order of CapabilityFlags::Flag. ztv and aux_power count a step that no area
// read needs, so the bar of such a driver stops short of 100 %.
constexpr std::array<CapabilityItem, CapabilityFlags::kFlagCount> kItems = {{
    {"support_aoc", 1},
    {"support_ztv", 1},
    {"support_clo", 1},
    {"support_dc_emergency", 1},
    {"support_lamp_on_time", 1},
    {"support_diagnostics_read", 1},
    {"support_dali_min_dim_level", 1},
    {"support_warm_and_cold_white", 1},
    {"support_dali_setting", 1},
    {"support_dali_addressing", 1},
    {"support_corridor", 1},
    {"support_aux_power", 1},
    {"support_start_up_time", 1},
    {"support_gtin", 0},
    {"support_mb1", 2},
    {"support_mb207", 1},
    {"support_dtl", 0},
    {"support_serial_number", 0},
    {"support_ltp", 0},
    {"support_amp", 0},
    {"support_eol", 0},
    {"support_nesm", 0},
    {"support_idps", 0},
    {"support_owp", 0},
}};

} // namespace

void CapabilityFlags::parseCapability(const JsonDataItem& item) {
    for (size_t flag = 0; flag < kItems.size(); ++flag) {
        if (kItems[flag].name == item.name) {
            mFlags[flag] = item.value == 1;
            if (item.value == 1) {
                mStepTotal += kItems[flag].steps;
            }
            return;
        }
    }
}

std::string_view CapabilityFlags::itemName(Flag flag) {
    return kItems[flag].name;
}

} // namespace wynfc
