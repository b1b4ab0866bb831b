// Replaces the global operator new and delete of the program it is linked into, counting the
// usable size malloc gives each block, so that a block counts the same when it is given back.

#include "heap_counter.h"

#include <algorithm>
#include <cstdlib>
#include <malloc.h>
#include <new>

namespace wynfc::bench {
namespace {

HeapFigures gHeap;

void* counted(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    const std::size_t usable = malloc_usable_size(block);
    gHeap.allocated += usable;
    gHeap.live += usable;
    gHeap.peak = std::max(gHeap.peak, gHeap.live);
    return block;
}

void uncounted(void* block) noexcept {
    if (block != nullptr) {
        gHeap.live -= malloc_usable_size(block);
        std::free(block);
    }
}

} // namespace

HeapFigures heapFigures() {
    return gHeap;
}

void resetHeapPeak() {
    gHeap.peak = gHeap.live;
}

} // namespace wynfc::bench

void* operator new(std::size_t size) {
    return wynfc::bench::counted(size);
}
void* operator new[](std::size_t size) {
    return wynfc::bench::counted(size);
}
void operator delete(void* block) noexcept {
    wynfc::bench::uncounted(block);
}
void operator delete[](void* block) noexcept {
    wynfc::bench::uncounted(block);
}
void operator delete(void* block, std::size_t) noexcept {
    wynfc::bench::uncounted(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    wynfc::bench::uncounted(block);
}
