#pragma once

#include "platform/bytes.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace wynfc {

// The areas a read job is about to read, and the blocks fetched for them ahead of their turn.
// A reader that can read many blocks in one command reads an area together with its planned
// neighbours, keeps their blocks here, and hands each neighbour its bytes when its turn comes,
// without another round trip. Only blocks of planned areas are ever read ahead: blocks between
// areas may be ones the tag refuses. Not thread-safe: its reader guards it.
class ReadAhead {
public:
    struct AreaBlocks {
        std::string name;
        int first = 0;
        int count = 0;
    };
    struct Span {
        int first = 0;
        int count = 0;
        bool operator==(const Span&) const = default;
    };

    // Replaces the plan; what was fetched for blocks outside the new plan is dropped.
    void plan(std::vector<AreaBlocks> areas);
    // Ends the plan and drops every block fetched.
    void clear();
    bool planned(const std::string& name) const;

    // The area's bytes, every block in order, when each of its blocks was fetched.
    std::optional<Bytes> fetched(const std::string& name) const;

    // The blocks to read for a planned area: its own, extended over the planned areas that
    // border it block for block (first those after it, then those before), as long as the
    // whole stays within mostBlocks. Nothing for an area outside the plan.
    std::optional<Span> spanFor(const std::string& name, int mostBlocks) const;

    // Keeps the blocks read from `first` on (4 bytes each; a shorter tail is dropped).
    void keep(int first, const Bytes& bytes);

private:
    const AreaBlocks* find(const std::string& name) const;
    bool isFetched(const AreaBlocks& area) const;

    std::vector<AreaBlocks> mAreas;
    std::map<int, Bytes> mBlocks;
};

} // namespace wynfc
