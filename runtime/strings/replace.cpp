// Substring replacement: a counting pass, one exactly sized reservation, then
// a copying pass that moves the runs between occurrences as whole blocks.
#include "runtime/strings/strings.h"

#include <emmintrin.h>

#include <cstring>

namespace {

const unit16 EMPTY[] = u"";

struct Pattern {
    const unit16* units;
    uint32_t length;
    uint32_t nocase;
};

// First unit at or after p that equals wanted or ends the string. Reads whole
// aligned 32-byte blocks, which never cross a page, so it may look past the
// terminator inside its block; the address checker is told to allow that.
__attribute__((no_sanitize_address)) const unit16* find_unit_or_end(const unit16* p,
                                                                     unit16 wanted)
{
    for (; reinterpret_cast<uintptr_t>(p) % 32 != 0; ++p) {
        if (*p == wanted || *p == 0)
            return p;
    }
    const __m128i wanted_units = _mm_set1_epi16(static_cast<short>(wanted));
    const __m128i zero = _mm_setzero_si128();
    for (;; p += 16) {
        __m128i low = _mm_load_si128(reinterpret_cast<const __m128i*>(p));
        __m128i high = _mm_load_si128(reinterpret_cast<const __m128i*>(p + 8));
        __m128i low_hits = _mm_or_si128(_mm_cmpeq_epi16(low, wanted_units), _mm_cmpeq_epi16(low, zero));
        __m128i high_hits = _mm_or_si128(_mm_cmpeq_epi16(high, wanted_units), _mm_cmpeq_epi16(high, zero));
        uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(low_hits)) |
                        static_cast<uint32_t>(_mm_movemask_epi8(high_hits)) << 16;
        if (mask)
            return p + __builtin_ctz(mask) / 2;
    }
}

const unit16* string_end(const unit16* p) { return find_unit_or_end(p, 0); }

// The units behind an equal first unit; a terminator in the text never
// equals the search's units, so the comparison stops inside the text.
bool rest_matches(const unit16* p, const Pattern& search)
{
    for (uint32_t i = 1; i < search.length; ++i) {
        if (p[i] != search.units[i])
            return false;
    }
    return true;
}

// The next occurrence at or after p, or the text's terminator. Exact
// comparison first finds an equal first unit; without regard to case every
// position is compared.
const unit16* next_occurrence(const unit16* p, const Pattern& search)
{
    if (search.nocase) {
        for (; *p; ++p) {
            if (u16_nicmp(p, search.units, search.length) == 0)
                return p;
        }
        return p;
    }
    for (;; ++p) {
        p = find_unit_or_end(p, search.units[0]);
        if (!*p || rest_matches(p, search))
            return p;
    }
}

// Units of text before position limit, fewer when the text ends sooner.
uint32_t prefix_length(const unit16* text, uint32_t limit)
{
    uint32_t length = 0;
    while (length < limit && text[length])
        ++length;
    return length;
}

bool count_reached(uint32_t found, int32_t count)
{
    return count != -1 && static_cast<int64_t>(found) >= count;
}

unit16* copy_units(unit16* destination, const unit16* source, uintptr_t length)
{
    std::memcpy(destination, source, length * sizeof(unit16));
    return destination + length;
}

// Replaces s by a duplicate when it lies in the area's used part, which the
// result may move or overwrite. 0 when no duplicate could be made.
int protect_argument(const unit16** s, unit16** duplicate)
{
    *duplicate = nullptr;
    if (!string_in_area(*s))
        return 1;
    *duplicate = u16_dup(*s);
    if (!*duplicate)
        return 0;
    *s = *duplicate;
    return 1;
}

// Counts the occurrences from text + skip (at most count), noting the first
// one and the text's end.
uint32_t count_occurrences(const unit16* text, uint32_t skip, const Pattern& search,
                           int32_t count, const unit16** first, const unit16** end)
{
    uint32_t found = 0;
    const unit16* p = text + prefix_length(text, skip);
    if (p == text + skip && count != 0 && search.length != 0) {
        for (;;) {
            p = next_occurrence(p, search);
            if (!*p)
                break;
            if (found == 0)
                *first = p;
            ++found;
            p += search.length;
            if (count_reached(found, count))
                break;
        }
    }
    *end = *p ? string_end(p) : p;
    return found;
}

// Writes text with its first `found` occurrences from `first` on replaced.
void copy_replacing(unit16* out, const unit16* text, const unit16* first, const unit16* end,
                    const Pattern& search, const unit16* replacement, uint32_t lr,
                    uint32_t found)
{
    out = copy_units(out, text, first - text);
    const unit16* p = first;
    for (;;) {
        out = copy_units(out, replacement, lr);
        p += search.length;
        if (--found == 0)
            break;
        const unit16* next = next_occurrence(p, search);
        out = copy_units(out, p, next - p);
        p = next;
    }
    out = copy_units(out, p, end - p);
    *out = 0;
}

void replace_into_area(const unit16* text, const Pattern& search, const unit16* replacement,
                       uint32_t skip, int32_t count, uint32_t offset)
{
    const unit16* first = nullptr;
    const unit16* end = nullptr;
    uint32_t found = count_occurrences(text, skip, search, count, &first, &end);
    uint32_t lr = u16_len(replacement);
    int64_t length = (end - text) + static_cast<int64_t>(found) * (static_cast<int64_t>(lr) - search.length);
    unit16* out = string_reserve(length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length),
                                 offset);
    if (!out)
        return;
    if (found == 0) {
        copy_units(out, text, end - text + 1);
        return;
    }
    copy_replacing(out, text, first, end, search, replacement, lr, found);
}

// Same-length replacement where the text stands; other lengths would shift
// or overrun the text, so they change nothing.
void replace_in_place(unit16* text, const Pattern& search, const unit16* replacement,
                      uint32_t skip, int32_t count)
{
    if (count == 0 || search.length == 0 || u16_len(replacement) != search.length ||
        prefix_length(text, skip) != skip)
        return;
    unit16* p = text + skip;
    for (uint32_t replaced = 0; count == -1 || static_cast<int64_t>(replaced) < count; ++replaced) {
        p = const_cast<unit16*>(next_occurrence(p, search));
        if (!*p)
            return;
        std::memmove(p, replacement, search.length * sizeof(unit16));
        p += search.length;
    }
}

void replace_protected(const unit16* text, const unit16* search, const unit16* replacement,
                       uint32_t mode, uint32_t skip, int32_t count, uint32_t offset)
{
    unit16* copies[3];
    if (!protect_argument(&text, &copies[0]) | !protect_argument(&search, &copies[1]) |
        !protect_argument(&replacement, &copies[2])) {
        unit16* out = string_reserve(0, offset);
        if (out)
            *out = 0;
    } else {
        Pattern pattern{search, u16_len(search), mode & REPLACE_NOCASE};
        replace_into_area(text, pattern, replacement, skip, count, offset);
    }
    for (unit16* copy : copies)
        u16_free(copy);
}

}  // namespace

void replace_text(const unit16* text, const unit16* search, const unit16* replacement,
                  uint32_t offset)
{
    replace_text(text, search, replacement, 0, 1, -1, offset);
}

void replace_text(const unit16* text, const unit16* search, const unit16* replacement,
                  uint32_t mode, int32_t start, int32_t count, uint32_t offset)
{
    text = text ? text : EMPTY;
    search = search ? search : EMPTY;
    replacement = replacement ? replacement : EMPTY;
    uint32_t skip = start > 1 ? static_cast<uint32_t>(start - 1) : 0;
    if (mode & REPLACE_INPLACE) {
        Pattern pattern{search, u16_len(search), mode & REPLACE_NOCASE};
        replace_in_place(const_cast<unit16*>(text), pattern, replacement, skip, count);
        return;
    }
    replace_protected(text, search, replacement, mode, skip, count, offset);
}
