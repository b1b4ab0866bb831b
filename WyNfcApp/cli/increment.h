#pragma once

#include "cli/map_file.h"
#include "cli/write_request.h"

#include <cstdint>
#include <optional>
#include <string>

namespace wynfc::cli {

// "--increment AREA.ITEM[=START]": one number item that each programmed driver gets the next
// value of, from START up to the item's maximum, never wrapping.
class Increment {
public:
    // Checks the item against the map (an integer or "bigint" item, not a bit) and the page's
    // catalogue (not read-only; its "min" and "max" where it gives them as numbers), and START
    // against that range. START defaults to the profile's value for the item, else the
    // minimum. Throws UsageError naming what is wrong.
    Increment(const std::string& text, const MapFile& map, const WriteList& profile,
              const std::string& catalogueJson);

    // "AREA.ITEM"
    std::string name() const { return mArea + "." + mItem; }
    std::uint64_t minimum() const { return mMinimum; }
    std::uint64_t maximum() const { return mMaximum; }

    // The value the next programmed driver gets; nothing once the range is used up.
    std::optional<std::uint64_t> next() const { return mNext; }
    // The profile with the item set to the next value (the item's entry replaced, or added).
    WriteList apply(const WriteList& profile) const;
    // The next value was programmed: the one after it is next.
    void consume();

private:
    std::string mArea;
    std::string mItem;
    bool mBigint = false;
    std::uint64_t mMinimum = 0;
    std::uint64_t mMaximum = 0;
    std::optional<std::uint64_t> mNext;
};

} // namespace wynfc::cli
