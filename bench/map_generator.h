// Inputs for the growth benchmarks (growth_bench, growth_job_bench), made from the shipped
// files: address maps with k times the areas of a given one, and tag images whose capability
// list announces a chosen set of features.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace wynfc::bench {

// Bytes from address 0 to the end of the map's last area, rounded up to whole 4-byte blocks:
// the stride at which copies of the map's areas lie next to each other without overlapping.
int mapSpan(const nlohmann::json& map);

// The map with `factor` times its areas: the originals and factor - 1 copies of each, copy j
// named "<name>_copy<j>" and lying j spans further. The copies come first, so that a lookup
// by name that searches in map order passes all of them before it reaches an original.
// Throws std::invalid_argument when the copies would leave the tag's address space.
nlohmann::json scaledMap(const nlohmann::json& map, int factor);

// The names of the map's areas, in map order.
std::vector<std::string> areaNames(const nlohmann::json& map);

// The tag image's memory as bytes ("memory": blocks of 8 hexadecimal digits).
std::vector<uint8_t> tagMemory(const nlohmann::json& tagImage);

// The tag image with the bits of `capabilityArea` (an area of `map`) set for the bits named in
// `announced` and cleared for every other bit of that area; everything else kept.
// Throws std::invalid_argument for an unknown area or bit name.
nlohmann::json tagAnnouncing(const nlohmann::json& tagImage, const nlohmann::json& map,
                             const std::string& capabilityArea, const std::vector<std::string>& announced);

} // namespace wynfc::bench
