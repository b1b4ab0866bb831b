#include "readers/read_ahead.h"

#include <algorithm>

namespace wynfc {

namespace {

constexpr std::size_t kBlockBytes = 4;

} // namespace

void ReadAhead::plan(std::vector<AreaBlocks> areas) {
    areas.erase(std::remove_if(areas.begin(), areas.end(),
                               [](const AreaBlocks& area) { return area.first < 0 || area.count < 1; }),
                areas.end());
    mAreas = std::move(areas);
    std::erase_if(mBlocks, [this](const auto& entry) {
        return std::none_of(mAreas.begin(), mAreas.end(), [&](const AreaBlocks& area) {
            return entry.first >= area.first && entry.first < area.first + area.count;
        });
    });
}

void ReadAhead::clear() {
    mAreas.clear();
    mBlocks.clear();
}

bool ReadAhead::planned(const std::string& name) const {
    return find(name) != nullptr;
}

const ReadAhead::AreaBlocks* ReadAhead::find(const std::string& name) const {
    const auto found =
        std::find_if(mAreas.begin(), mAreas.end(), [&](const AreaBlocks& area) { return area.name == name; });
    return found == mAreas.end() ? nullptr : &*found;
}

bool ReadAhead::isFetched(const AreaBlocks& area) const {
    for (int block = area.first; block < area.first + area.count; ++block) {
        if (!mBlocks.contains(block)) {
            return false;
        }
    }
    return true;
}

std::optional<Bytes> ReadAhead::fetched(const std::string& name) const {
    const AreaBlocks* area = find(name);
    if (area == nullptr || !isFetched(*area)) {
        return std::nullopt;
    }
    Bytes bytes;
    for (int block = area->first; block < area->first + area->count; ++block) {
        const Bytes& blockBytes = mBlocks.at(block);
        bytes.insert(bytes.end(), blockBytes.begin(), blockBytes.end());
    }
    return bytes;
}

std::optional<ReadAhead::Span> ReadAhead::spanFor(const std::string& name, int mostBlocks) const {
    const AreaBlocks* area = find(name);
    if (area == nullptr) {
        return std::nullopt;
    }
    Span span{area->first, area->count};
    const auto neighbour = [&](auto borders) -> const AreaBlocks* {
        const auto found = std::find_if(mAreas.begin(), mAreas.end(), [&](const AreaBlocks& other) {
            return borders(other) && !isFetched(other) && span.count + other.count <= mostBlocks;
        });
        return found == mAreas.end() ? nullptr : &*found;
    };
    const auto after = [&](const AreaBlocks& other) { return other.first == span.first + span.count; };
    const auto before = [&](const AreaBlocks& other) { return other.first + other.count == span.first; };
    while (const AreaBlocks* next = neighbour(after)) {
        span.count += next->count;
    }
    while (const AreaBlocks* previous = neighbour(before)) {
        span.first = previous->first;
        span.count += previous->count;
    }
    return span;
}

void ReadAhead::keep(int first, const Bytes& bytes) {
    for (std::size_t offset = 0; offset + kBlockBytes <= bytes.size(); offset += kBlockBytes) {
        const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(offset);
        mBlocks[first + static_cast<int>(offset / kBlockBytes)] = Bytes(begin, begin + kBlockBytes);
    }
}

} // namespace wynfc
