// The temporary string area and string variables.
#include "runtime/strings/strings.h"

#include <cstring>

HeapHandle string_heap;
TempStringArea string_area;

namespace {

constexpr int32_t INITIAL_CAPACITY = 16;
// Growth leaves this much room beyond the need, so growing is rare.
constexpr uint32_t GROWTH_SLACK = 16384;
// Extra bytes behind the capacity, and behind every variable's string: the
// terminating zero plus spare units.
constexpr uint32_t SPARE_BYTES = 10;
// Growth is due when no more than this many bytes would remain past the end.
constexpr int64_t ROOM_MARGIN = 4;
// The largest capacity whose buffer size still fits the signed capacity.
constexpr int64_t MAX_CAPACITY = INT32_MAX - SPARE_BYTES;

const unit16 EMPTY[] = u"";

unit16* at_offset(uint32_t offset_bytes)
{
    return reinterpret_cast<unit16*>(string_area.base + offset_bytes);
}

// Grows the buffer to hold new_end bytes plus the slack; 0 when the heap
// refuses, and the old buffer is then kept whole.
int grow_area(int64_t new_end)
{
    int64_t capacity = new_end + GROWTH_SLACK;
    if (capacity > MAX_CAPACITY)
        return 0;
    uint32_t size = static_cast<uint32_t>(capacity) + SPARE_BYTES;
    void* buffer = string_area.base ? heap_realloc(string_heap, string_area.base, size)
                                    : heap_alloc(string_heap, size, 0);
    if (!buffer)
        return 0;
    string_area.base = static_cast<char*>(buffer);
    string_area.capacity = static_cast<int32_t>(capacity);
    return 1;
}

// An unreservable result reads as the empty string at its offset.
void leave_empty_result(uint32_t offset_bytes)
{
    if (offset_bytes > string_area.current_offset || !string_area.base)
        return;
    string_area.current_offset = offset_bytes;
    *at_offset(offset_bytes) = 0;
}

}  // namespace

uint32_t string_offset() { return string_area.current_offset; }

int32_t string_area_init()
{
    string_heap = heap_create();
    string_area.base = static_cast<char*>(heap_alloc(string_heap, INITIAL_CAPACITY, 0));
    string_area.current_offset = 0;
    // Without a buffer the first reservation must allocate one.
    string_area.capacity = string_area.base ? INITIAL_CAPACITY : 0;
    return string_area.base != nullptr;
}

void string_area_end()
{
    heap_free(string_heap, string_area.base);
    heap_destroy(string_heap);
    string_area = TempStringArea{};
    string_heap = nullptr;
}

unit16* string_reserve(uint32_t length_units, uint32_t offset_bytes)
{
    // Measured from the current offset: the operation's own arguments may lie
    // above the given offset and are then counted too. An offset beyond the
    // used part (outside the protocol) is measured from itself.
    uint32_t from = offset_bytes > string_area.current_offset ? offset_bytes
                                                              : string_area.current_offset;
    int64_t new_end = static_cast<int64_t>(from) + 2 * static_cast<int64_t>(length_units);
    if (new_end >= static_cast<int64_t>(string_area.capacity) - ROOM_MARGIN && !grow_area(new_end)) {
        leave_empty_result(offset_bytes);
        return nullptr;
    }
    string_area.current_offset = offset_bytes + 2 * length_units;
    return at_offset(offset_bytes);
}

void string_pop(uint32_t length_units)
{
    uint32_t bytes = 2 * length_units;
    string_area.current_offset =
        bytes / 2 == length_units && bytes <= string_area.current_offset
            ? string_area.current_offset - bytes
            : 0;
}

int32_t string_assign(unit16** variable, uint32_t saved_offset)
{
    uint32_t current = string_area.current_offset;
    if (saved_offset > current) {
        // Outside the protocol: nothing lies there, so the string is empty.
        saved_offset = current;
    }
    uint32_t size = current - saved_offset;
    void* block = *variable ? heap_realloc(string_heap, *variable, size + SPARE_BYTES)
                            : heap_alloc(string_heap, size + SPARE_BYTES, 0);
    if (block) {
        *variable = static_cast<unit16*>(block);
        string_copy_chars(*variable, at_offset(saved_offset), size / 2);
    }
    string_area.current_offset = saved_offset;
    return block != nullptr;
}

int32_t string_push_copy(const unit16* s)
{
    uint32_t current = string_area.current_offset;
    if (!s) {
        unit16* end = string_reserve(0, current);
        if (end)
            *end = 0;
        return end != nullptr;
    }
    uint32_t length = u16_len(s);
    // A string that lies in the area itself moves with the buffer.
    uint32_t inside = string_in_area(s);
    unit16* destination = string_reserve(length, current);
    if (!destination)
        return 0;
    if (inside)
        s = reinterpret_cast<const unit16*>(string_area.base + inside - 1);
    std::memmove(destination, s, (length + 1) * sizeof(unit16));
    return 1;
}

int32_t string_equal(const unit16* a, const unit16* b)
{
    if (!a)
        a = EMPTY;
    if (!b)
        b = EMPTY;
    for (; *a == *b; ++a, ++b) {
        if (!*a)
            return 1;
    }
    return 0;
}

uint32_t string_in_area(const void* address)
{
    if (!string_area.base)
        return 0;
    uintptr_t distance = reinterpret_cast<uintptr_t>(address) -
                         reinterpret_cast<uintptr_t>(string_area.base);
    return distance <= string_area.current_offset ? static_cast<uint32_t>(distance) + 1 : 0;
}

void string_copy_chars(unit16* dst, const unit16* src, uint32_t length_units)
{
    if (length_units)
        std::memcpy(dst, src, length_units * sizeof(unit16));
    dst[length_units] = 0;
}

void string_new_copy(unit16** variable, const unit16* s)
{
    if (!s)
        return;
    uint32_t length = u16_len(s);
    auto* block = static_cast<unit16*>(heap_alloc(string_heap, 2 * length + SPARE_BYTES, 0));
    if (!block)
        return;
    string_copy_chars(block, s, length);
    *variable = block;
}

void string_free(unit16* block)
{
    if (block)
        heap_free(string_heap, block);
}
