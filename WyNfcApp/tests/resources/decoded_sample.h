#pragma once

// A sample tag image read area by area the way the phone transport does it: the library
// describes the area, its whole blocks are cut out of the image, and the library decodes them.

#include "resource_files.h"

#include "wy_nfc_mapping/ApiHeader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace wynfc::test {

class DecodedSample {
public:
    // Loads the sample and puts the shipped address map into the library, replacing any
    // map an earlier test left there.
    explicit DecodedSample(const std::string& fileName);
    ~DecodedSample();
    DecodedSample(const DecodedSample&) = delete;
    DecodedSample& operator=(const DecodedSample&) = delete;

    const Json& image() const { return mImage; }
    const std::vector<std::uint8_t>& memory() const { return mMemory; }

    // The area's blocks as read from the tag.
    std::vector<std::uint8_t> areaBytes(const std::string& area) const;
    // The library's value list of the area.
    Json decode(const std::string& area) const;

    // The decoded object named so (item or bit); throws when the area has none.
    Json valueObject(const std::string& area, const std::string& name) const;
    long long value(const std::string& area, const std::string& name) const;
    std::string arrayValue(const std::string& area, const std::string& name) const;

private:
    mutable ApiHeader mApi;
    Json mImage;
    std::vector<std::uint8_t> mMemory;
};

} // namespace wynfc::test
