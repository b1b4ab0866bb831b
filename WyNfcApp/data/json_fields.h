#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace wynfc::json_fields {

// Strict field readers for the application's JSON records: a required key that is
// missing, null or of another type throws DecodeError naming the key.
class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

const nlohmann::json& required(const nlohmann::json& object, const char* key);
std::string text(const nlohmann::json& object, const char* key);
std::optional<std::string> optionalText(const nlohmann::json& object, const char* key);
std::int64_t integer(const nlohmann::json& object, const char* key);
// Whole numbers; negative ones keep their two's-complement bits.
std::uint64_t unsignedBits(const nlohmann::json& object, const char* key);
bool boolean(const nlohmann::json& object, const char* key);

// Parses strictly (no comments); throws DecodeError.
nlohmann::json parse(const std::string& text);

} // namespace wynfc::json_fields
