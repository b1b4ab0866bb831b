#include "data/json_records.h"

#include "data/json_fields.h"

#include <limits>

namespace wynfc {
namespace {

using nlohmann::json;
namespace fields = json_fields;

const json& list(const json& root) {
    if (!root.is_array()) {
        throw fields::DecodeError("expected a JSON list");
    }
    return root;
}

PropJsonType propJsonType(const json& object) {
    PropJsonType entry;
    entry.propName = fields::text(object, "propName");
    entry.value = fields::unsignedBits(object, "value");
    const auto bitValue = object.find("bitValue");
    if (bitValue != object.end() && !bitValue->is_null()) {
        if (!bitValue->is_number_integer() ||
            bitValue->get<std::int64_t>() < std::numeric_limits<int>::min() ||
            bitValue->get<std::int64_t>() > std::numeric_limits<int>::max()) {
            throw fields::DecodeError("\"bitValue\" should be a whole number");
        }
        entry.bitValue = bitValue->get<int>();
    }
    entry.arrayValue = fields::optionalText(object, "arrayValue");
    return entry;
}

// Runs the decoder; a failure becomes an absent result and its reason.
template <typename Decode>
auto decodeOrNothing(const std::string& text, std::string* error, Decode decode)
    -> std::optional<decltype(decode(json()))> {
    try {
        return decode(fields::parse(text));
    } catch (const std::exception& failure) {
        if (error != nullptr) {
            *error = failure.what();
        }
        return std::nullopt;
    }
}

} // namespace

std::optional<std::vector<JsonDataItem>> decodeJsonDataItems(const std::string& text, std::string* error) {
    return decodeOrNothing(text, error, [](const json& root) {
        std::vector<JsonDataItem> items;
        for (const json& object : list(root)) {
            JsonDataItem item;
            item.dataType = fields::text(object, "dataType");
            item.name = fields::text(object, "name");
            // Bits of other types than "binary", and items the library cannot decode,
            // come without a value.
            const auto value = object.find("value");
            item.value =
                value == object.end() || value->is_null() ? 0 : fields::unsignedBits(object, "value");
            item.arrayvalue = fields::optionalText(object, "arrayvalue");
            items.push_back(std::move(item));
        }
        return items;
    });
}

std::optional<std::vector<WriteValuesType>> decodeWriteValues(const std::string& text, std::string* error) {
    return decodeOrNothing(text, error, [](const json& root) {
        std::vector<WriteValuesType> areas;
        for (const json& object : list(root)) {
            WriteValuesType area;
            area.name = fields::text(object, "name");
            for (const json& entry : list(fields::required(object, "data"))) {
                area.data.push_back(propJsonType(entry));
            }
            areas.push_back(std::move(area));
        }
        return areas;
    });
}

std::string encodePropJsonList(const std::vector<PropJsonType>& entries) {
    json list = json::array();
    for (const PropJsonType& entry : entries) {
        json object = {{"propName", entry.propName}, {"value", entry.value}};
        if (entry.bitValue) {
            object["bitValue"] = *entry.bitValue;
        }
        if (entry.arrayValue) {
            object["arrayValue"] = *entry.arrayValue;
        }
        list.push_back(std::move(object));
    }
    return list.dump();
}

} // namespace wynfc
