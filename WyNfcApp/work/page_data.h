#pragma once

#include "platform/bundle.h"

#include <string>

namespace wynfc {

// The page asks for its data with this request (no data); the answer is this event.
inline constexpr const char* kGetPageDataRequest = "GET_PAGE_DATA";
inline constexpr const char* kPageDataCallback = "PAGE_DATA_CALLBACK";

// What the configuration page needs to explain and check the driver's values: the field
// catalogue ("field_catalogue.json") and the address map ("address_map.json") of the bundle,
// as one compact JSON object {"catalogue": ..., "map": ...}. A file that is missing or not
// JSON gives null in its place, with a log line; the page then shows values by their names.
std::string pageDataPayload(const Bundle& bundle);

} // namespace wynfc
