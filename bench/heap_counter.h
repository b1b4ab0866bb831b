// Heap use of a benchmark: this program's operator new and delete (heap_counter.cpp) count the
// bytes they hand out. Single-threaded use only, as Google Benchmark runs these benchmarks.
#pragma once

#include <cstddef>

namespace wynfc::bench {

struct HeapFigures {
    std::size_t allocated = 0; // every byte handed out so far
    std::size_t live = 0;      // handed out and not yet given back
    std::size_t peak = 0;      // most live bytes since the last resetPeak
};

HeapFigures heapFigures();

// Starts a new peak at the bytes live now.
void resetHeapPeak();

} // namespace wynfc::bench
