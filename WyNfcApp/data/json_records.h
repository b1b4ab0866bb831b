#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wynfc {

// One decoded value of an area, as the library lists them. Note the key "arrayvalue" in
// lower case: the library's "arrayValue" does not fill it.
struct JsonDataItem {
    std::string dataType;
    std::string name;
    std::uint64_t value = 0; // 0 when absent; negative numbers keep their two's-complement bits
    std::optional<std::string> arrayvalue;
};

// One changed value for the library's merge.
struct PropJsonType {
    std::string propName;
    std::uint64_t value = 0;
    std::optional<int> bitValue;
    std::optional<std::string> arrayValue;
};

// The changed values of one area, as the page sends them.
struct WriteValuesType {
    std::string name;
    std::vector<PropJsonType> data;
};

// Decoders: nothing when the text is not JSON of that shape; `error` then says why.
std::optional<std::vector<JsonDataItem>> decodeJsonDataItems(const std::string& json,
                                                             std::string* error = nullptr);
std::optional<std::vector<WriteValuesType>> decodeWriteValues(const std::string& json,
                                                              std::string* error = nullptr);

// The merge input of the library: keys "propName" and "value", and "bitValue" and
// "arrayValue" only when present.
std::string encodePropJsonList(const std::vector<PropJsonType>& entries);

} // namespace wynfc
