#pragma once

#include "data/json_records.h"

#include <array>
#include <string_view>

namespace wynfc {

// What a driver supports, from the capability list on its tag, and how many progress
// steps a read of its memory areas takes.
class CapabilityFlags {
public:
    enum Flag {
        aoc,
        ztv,
        clo,
        dc_emergency,
        lamp_on_time,
        diagnostics_read,
        dali_min_dim_level,
        warm_and_cold_white,
        dali_setting,
        dali_addressing,
        corridor,
        aux_power,
        start_up_time,
        gtin,
        mb1,
        mb207,
        dtl,
        serial_number,
        ltp,
        amp,
        eol,
        nesm,
        idps,
        owp,
        kFlagCount
    };

    // The item of that name sets its flag to (value == 1); a value of 1 adds its steps.
    // A later item of the same name overwrites the flag and may add steps again.
    void parseCapability(const JsonDataItem& item);

    bool isSet(Flag flag) const { return mFlags[flag]; }
    int stepTotal() const { return mStepTotal; }

    // The capability item's name of a flag, e.g. "support_aoc".
    static std::string_view itemName(Flag flag);

private:
    std::array<bool, kFlagCount> mFlags{};
    int mStepTotal = 0;
};

} // namespace wynfc
