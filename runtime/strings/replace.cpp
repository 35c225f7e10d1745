// Substring replacement: a counting pass, one exactly sized reservation, then
// a copying pass that moves the runs between occurrences as whole blocks.
#include "runtime/strings/strings.h"
#include "runtime/strings/unit_scan.h"

#include <cstring>

namespace {

const unit16 EMPTY[] = u"";

struct Pattern {
    const unit16* units;
    uint32_t length;
    uint32_t nocase;
};

const unit16* string_end(const unit16* p) { return find_occurrence_or_end(p, EMPTY, 1); }

// The next occurrence at or after p, or the text's terminator. Exact
// comparison looks only where the first unit is equal; without regard to
// case every position is compared.
const unit16* next_occurrence(const unit16* p, const Pattern& search)
{
    if (!search.nocase)
        return find_occurrence_or_end(p, search.units, search.length);
    for (; *p; ++p) {
        if (u16_nicmp(p, search.units, search.length) == 0)
            return p;
    }
    return p;
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

// What the counting pass learnt: how many occurrences, where the first of
// them lie (so the copying pass need not look for those again), and where the
// text ends.
struct Occurrences {
    static constexpr uint32_t NOTED_MAX = 1024;
    const unit16* noted[NOTED_MAX];
    uint32_t found;
    const unit16* end;
};

// The counting pass: occurrences from text + skip, at most count of them.
void count_occurrences(const unit16* text, uint32_t skip, const Pattern& search, int32_t count,
                       Occurrences* occurrences)
{
    uint32_t found = 0;
    const unit16* p = text + prefix_length(text, skip);
    if (p == text + skip && count != 0 && search.length != 0) {
        for (;;) {
            p = next_occurrence(p, search);
            if (!*p)
                break;
            if (found < Occurrences::NOTED_MAX)
                occurrences->noted[found] = p;
            ++found;
            p += search.length;
            if (count_reached(found, count))
                break;
        }
    }
    occurrences->found = found;
    occurrences->end = *p ? string_end(p) : p;
}

// The copying pass: the runs between occurrences go as whole blocks; those
// beyond the noted ones are found again by the same rule.
void copy_replacing(unit16* out, const unit16* text, const Occurrences& occurrences,
                    const Pattern& search, const unit16* replacement, uint32_t lr)
{
    const unit16* p = text;
    for (uint32_t i = 0; i < occurrences.found; ++i) {
        const unit16* next =
            i < Occurrences::NOTED_MAX ? occurrences.noted[i] : next_occurrence(p, search);
        out = copy_units(out, p, next - p);
        out = copy_units(out, replacement, lr);
        p = next + search.length;
    }
    out = copy_units(out, p, occurrences.end - p);
    *out = 0;
}

int32_t replace_into_area(const unit16* text, const Pattern& search, const unit16* replacement,
                          uint32_t skip, int32_t count, uint32_t offset)
{
    Occurrences occurrences;
    count_occurrences(text, skip, search, count, &occurrences);
    uint32_t lr = u16_len(replacement);
    int64_t length = (occurrences.end - text) +
                     static_cast<int64_t>(occurrences.found) * (static_cast<int64_t>(lr) - search.length);
    unit16* out = string_reserve(length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length),
                                 offset);
    if (!out)
        return 0;
    if (occurrences.found == 0) {
        copy_units(out, text, occurrences.end - text + 1);
        return 1;
    }
    copy_replacing(out, text, occurrences, search, replacement, lr);
    return 1;
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

int32_t replace_protected(const unit16* text, const unit16* search, const unit16* replacement,
                          uint32_t mode, uint32_t skip, int32_t count, uint32_t offset)
{
    unit16* copies[3];
    // Not short-circuited: every copy slot must be set before the release.
    const int protected_all = protect_argument(&text, &copies[0]) &
                              protect_argument(&search, &copies[1]) &
                              protect_argument(&replacement, &copies[2]);
    int32_t replaced = 0;
    if (!protected_all) {
        unit16* out = string_reserve(0, offset);
        if (out)
            *out = 0;
    } else {
        Pattern pattern{search, u16_len(search), mode & REPLACE_NOCASE};
        replaced = replace_into_area(text, pattern, replacement, skip, count, offset);
    }
    for (unit16* copy : copies)
        u16_free(copy);
    return replaced;
}

}  // namespace

int32_t replace_text(const unit16* text, const unit16* search, const unit16* replacement,
                     uint32_t offset)
{
    return replace_text(text, search, replacement, 0, 1, -1, offset);
}

int32_t replace_text(const unit16* text, const unit16* search, const unit16* replacement,
                     uint32_t mode, int32_t start, int32_t count, uint32_t offset)
{
    text = text ? text : EMPTY;
    search = search ? search : EMPTY;
    replacement = replacement ? replacement : EMPTY;
    uint32_t skip = start > 1 ? static_cast<uint32_t>(start - 1) : 0;
    if (mode & REPLACE_INPLACE) {
        Pattern pattern{search, u16_len(search), mode & REPLACE_NOCASE};
        replace_in_place(const_cast<unit16*>(text), pattern, replacement, skip, count);
        return 1;
    }
    return replace_protected(text, search, replacement, mode, skip, count, offset);
}
