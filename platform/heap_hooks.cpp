#include "platform/heap_hooks.h"

namespace {

// Allocations are numbered from 1; those numbered first .. first + count - 1
// are refused (count HEAP_FAIL_REST: no end).
volatile int32_t allocations_made;
volatile int32_t refusal_first;
volatile int32_t refusal_count;

// Live blocks per heap, so that a destroyed heap's blocks count as returned.
// Slots are taken and given back on the thread that creates and destroys the
// heap; the counts may change on any thread. A heap beyond the table keeps
// its blocks counted for good, which a check would then report.
struct HeapCount {
    HeapHandle volatile heap;
    volatile int32_t blocks;
};
constexpr int HEAP_SLOTS = 64;
HeapCount heap_counts[HEAP_SLOTS];
volatile int32_t untracked_blocks;
volatile int32_t duplicate_blocks;
volatile int32_t live_heaps;

int32_t atomic_add(volatile int32_t* word, int32_t delta)
{
    for (;;) {
        int32_t seen = *word;
        if (atomic_compare_exchange(word, seen + delta, seen) == seen)
            return seen + delta;
    }
}

HeapCount* slot_of(HeapHandle heap)
{
    for (HeapCount& slot : heap_counts)
        if (slot.heap == heap)
            return &slot;
    return nullptr;
}

volatile int32_t* count_of(HeapHandle heap)
{
    if (!heap)
        return &duplicate_blocks;
    HeapCount* slot = slot_of(heap);
    return slot ? &slot->blocks : &untracked_blocks;
}

}  // namespace

void heap_fail_range(uint32_t first, uint32_t count)
{
    atomic_exchange(&refusal_count, 0);
    atomic_exchange(&allocations_made, 0);
    atomic_exchange(&refusal_first, static_cast<int32_t>(first));
    atomic_exchange(&refusal_count, static_cast<int32_t>(count));
}

void heap_fail_next(int count)
{
    heap_fail_range(1, count > 0 ? static_cast<uint32_t>(count) : 0);
}

uint32_t heap_allocations()
{
    return static_cast<uint32_t>(allocations_made);
}

int hooks_refuse_allocation()
{
    uint32_t number = static_cast<uint32_t>(atomic_add(&allocations_made, 1));
    uint32_t first = static_cast<uint32_t>(refusal_first);
    uint32_t count = static_cast<uint32_t>(refusal_count);
    return number >= first && number - first < count;
}

HeapUsage heap_usage()
{
    int32_t blocks = untracked_blocks + duplicate_blocks;
    for (const HeapCount& slot : heap_counts)
        if (slot.heap)
            blocks += slot.blocks;
    return HeapUsage{live_heaps, blocks};
}

void hooks_heap_created(HeapHandle heap)
{
    atomic_add(&live_heaps, 1);
    if (HeapCount* slot = slot_of(nullptr)) {
        slot->blocks = 0;
        slot->heap = heap;
    }
}

void hooks_heap_destroyed(HeapHandle heap)
{
    atomic_add(&live_heaps, -1);
    if (HeapCount* slot = slot_of(heap)) {
        slot->heap = nullptr;
        slot->blocks = 0;
    }
}

void hooks_block_taken(HeapHandle heap)
{
    atomic_add(count_of(heap), 1);
}

void hooks_block_returned(HeapHandle heap)
{
    atomic_add(count_of(heap), -1);
}
