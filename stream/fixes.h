// The repairs (the letter table's rows and the compositions) in the forms
// the stream scans for, derived from them at compile time: each row's search
// and replacement as UTF-8 bytes, and the bytes and units that announce a
// possible look-alike.
#pragma once

#include "letters/repairs.h"

#include <array>
#include <cstddef>
#include <cstdint>

constexpr size_t fix_count = repair_count;

constexpr size_t units_in(const char16_t* s)
{
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

// The Greek capitals of the letter table. Whether one stands for a Cyrillic
// letter depends on its word and line, so the word stage repairs them, not
// the scan.
constexpr uint32_t make_table_capitals()
{
    uint32_t capitals = 0;
    for (const LetterFix& fix : letter_fixes) {
        if (fix.search[0] >= 0x0391 && fix.search[0] <= 0x03A9 && !fix.search[1])
            capitals |= uint32_t(1) << (fix.search[0] - 0x0391);
    }
    return capitals;
}

constexpr uint32_t table_capitals = make_table_capitals();

constexpr bool is_table_capital(char32_t code)
{
    return code - 0x0391 <= 0x03A9 - 0x0391 && (table_capitals >> (code - 0x0391) & 1);
}

// Whether the scan applies a row: all but those that start with a Greek
// capital.
constexpr bool is_scanned(size_t row) { return !is_table_capital(repairs[row].search[0]); }

// The whole search of a row, one unit long, that `unit` is; or -1.
constexpr int single_row(char16_t unit)
{
    for (size_t row = 0; row < fix_count; ++row) {
        if (!repairs[row].search[1] && repairs[row].search[0] == unit)
            return static_cast<int>(row);
    }
    return -1;
}

// The range the second units of the two-unit searches lie in: the marks.
struct UnitRange {
    char16_t low, high;
};

constexpr UnitRange make_pair_ends()
{
    UnitRange range{0xFFFF, 0};
    for (const LetterFix& fix : repairs) {
        if (fix.search[1]) {
            range.low = fix.search[1] < range.low ? fix.search[1] : range.low;
            range.high = fix.search[1] > range.high ? fix.search[1] : range.high;
        }
    }
    return range;
}

constexpr UnitRange pair_ends = make_pair_ends();

// The row of each Greek capital of the table, by its distance from U+0391,
// which the word stage looks up for every capital it repairs.
constexpr std::array<int8_t, 0x03A9 - 0x0391 + 1> make_capital_rows()
{
    std::array<int8_t, 0x03A9 - 0x0391 + 1> rows{};
    for (size_t k = 0; k < rows.size(); ++k)
        rows[k] = static_cast<int8_t>(single_row(static_cast<char16_t>(0x0391 + k)));
    return rows;
}

constexpr std::array<int8_t, 0x03A9 - 0x0391 + 1> capital_rows = make_capital_rows();

// The row of a Greek capital of the table.
constexpr int capital_row(char32_t capital) { return capital_rows[capital - 0x0391]; }

// Whether `unit` lies among the marks that end a pair.
constexpr bool is_pair_end(char32_t unit) { return unit - pair_ends.low <= char32_t(pair_ends.high - pair_ends.low); }

// The two-unit row whose search is `first` and then `second`, or -1.
// Most units end no pair, which is told before the rows are searched.
constexpr int pair_row(char32_t first, char32_t second)
{
    if (!is_pair_end(second))
        return -1;
    for (size_t row = 0; row < fix_count; ++row) {
        const char16_t* search = repairs[row].search;
        if (search[1] && search[0] == first && search[1] == second)
            return static_cast<int>(row);
    }
    return -1;
}

// The table holds no surrogates, so each unit is one code point.
constexpr size_t put_utf8(char16_t unit, uint8_t* out)
{
    if (unit < 0x80) {
        out[0] = static_cast<uint8_t>(unit);
        return 1;
    }
    if (unit < 0x800) {
        out[0] = static_cast<uint8_t>(0xC0 | unit >> 6);
        out[1] = static_cast<uint8_t>(0x80 | (unit & 0x3F));
        return 2;
    }
    out[0] = static_cast<uint8_t>(0xE0 | unit >> 12);
    out[1] = static_cast<uint8_t>(0x80 | (unit >> 6 & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 | (unit & 0x3F));
    return 3;
}

struct Utf8Fix {
    uint8_t search[6];
    uint8_t search_size;
    // Where the search's last character starts, whose lead byte the scan
    // looks for; a base letter before it is checked afterwards. A look-alike
    // with a mark after it is keyed on the look-alike instead, and tried
    // before the look-alike's own row, so the pair is taken whole.
    uint8_t key_at;
    uint8_t replacement[3];
    uint8_t replacement_size;
};

constexpr std::array<Utf8Fix, fix_count> make_utf8_fixes()
{
    std::array<Utf8Fix, fix_count> fixes{};
    for (size_t row = 0; row < fix_count; ++row) {
        Utf8Fix& fix = fixes[row];
        const char16_t* search = repairs[row].search;
        size_t size = 0;
        for (size_t i = 0; i < units_in(search); ++i) {
            fix.key_at = static_cast<uint8_t>(size);
            size += put_utf8(search[i], fix.search + size);
        }
        if (single_row(search[0]) >= 0)
            fix.key_at = 0;
        fix.search_size = static_cast<uint8_t>(size);
        fix.replacement_size =
            static_cast<uint8_t>(put_utf8(repairs[row].replacement[0], fix.replacement));
    }
    return fixes;
}

constexpr std::array<Utf8Fix, fix_count> utf8_fixes = make_utf8_fixes();

// Every replacement is a Cyrillic letter: two bytes in UTF-8 as in UTF-16.
constexpr size_t replacement_bytes = 2;

constexpr bool replacements_take_two_bytes()
{
    for (const Utf8Fix& fix : utf8_fixes) {
        if (fix.replacement_size != replacement_bytes)
            return false;
    }
    return true;
}
static_assert(replacements_take_two_bytes(), "every replacement is one two-byte character");

// The distinct lead bytes the UTF-8 scan looks for.
struct KeyBytes {
    uint8_t bytes[fix_count];
    size_t count;
};

constexpr KeyBytes make_utf8_keys()
{
    KeyBytes keys{};
    for (size_t row = 0; row < fix_count; ++row) {
        const Utf8Fix& fix = utf8_fixes[row];
        uint8_t key = fix.search[fix.key_at];
        if (!is_scanned(row))
            continue;
        bool known = false;
        for (size_t i = 0; i < keys.count; ++i)
            known = known || keys.bytes[i] == key;
        if (!known)
            keys.bytes[keys.count++] = key;
    }
    return keys;
}

constexpr KeyBytes utf8_keys = make_utf8_keys();

// What the vector scan tests: the two-byte leads among the key bytes lie
// close together, so one range test [low, low + span] covers them (the few
// other bytes in it are turned away by the rows); the rest are tested one
// by one.
struct KeyFilter {
    uint8_t low;
    uint8_t span;
    KeyBytes others;
};

constexpr KeyFilter make_utf8_key_filter()
{
    KeyFilter filter{0xFF, 0, {}};
    uint8_t high = 0;
    for (size_t i = 0; i < utf8_keys.count; ++i) {
        uint8_t key = utf8_keys.bytes[i];
        if (key >= 0xC0 && key <= 0xDF) {
            filter.low = key < filter.low ? key : filter.low;
            high = key > high ? key : high;
        } else {
            filter.others.bytes[filter.others.count++] = key;
        }
    }
    filter.span = static_cast<uint8_t>(high - filter.low);
    return filter;
}

constexpr KeyFilter utf8_key_filter = make_utf8_key_filter();
static_assert(utf8_key_filter.low <= 0xDF, "some look-alike ends with a two-byte character");

// Whether a byte is one of utf8_keys, for the scan without vectors.
constexpr std::array<bool, 256> make_utf8_key_bytes()
{
    std::array<bool, 256> keys{};
    for (size_t i = 0; i < utf8_keys.count; ++i)
        keys[utf8_keys.bytes[i]] = true;
    return keys;
}

constexpr std::array<bool, 256> is_utf8_key = make_utf8_key_bytes();

// A key's rows in an index's rows_by_key.
struct KeyRows {
    uint8_t first;
    uint8_t count;
};

// The scanned rows by the low byte of their search's last unit, in table
// order within each, so that a UTF-16 key unit leads straight to the few
// rows it can complete.
struct Utf16RowIndex {
    std::array<uint8_t, fix_count> rows_by_key;
    std::array<KeyRows, 256> key_rows;
};

constexpr Utf16RowIndex make_utf16_row_index()
{
    Utf16RowIndex index{};
    size_t placed = 0;
    for (size_t key = 0; key < 256; ++key) {
        index.key_rows[key].first = static_cast<uint8_t>(placed);
        for (size_t row = 0; row < fix_count; ++row) {
            const char16_t* search = repairs[row].search;
            if ((search[units_in(search) - 1] & 0xFF) == key && is_scanned(row))
                index.rows_by_key[placed++] = static_cast<uint8_t>(row);
        }
        index.key_rows[key].count = static_cast<uint8_t>(placed - index.key_rows[key].first);
    }
    return index;
}

constexpr Utf16RowIndex utf16_row_index = make_utf16_row_index();

// A piece may end inside a look-alike by at most this many bytes.
constexpr size_t longest_utf8_search()
{
    size_t longest = 0;
    for (const Utf8Fix& fix : utf8_fixes)
        longest = fix.search_size > longest ? fix.search_size : longest;
    return longest;
}

// The high bytes of the units that end a search: only a unit with one of
// them can complete a look-alike in UTF-16.
constexpr std::array<bool, 256> make_utf16_key_highs()
{
    std::array<bool, 256> highs{};
    for (const LetterFix& fix : repairs)
        highs[fix.search[units_in(fix.search) - 1] >> 8] = true;
    return highs;
}

constexpr std::array<bool, 256> utf16_key_highs = make_utf16_key_highs();
static_assert(utf16_key_highs[0x03], "the UTF-16 scan stops at every Greek capital");
static_assert(utf16_key_highs[0x01] && utf16_key_highs[0x02],
              "the UTF-16 scan stops at every letter above U+00FF that may start a twin");

// The same high bytes as the vector scan tests them: their longest run as
// one range test [low, low + span], the rest one by one.
constexpr KeyFilter make_utf16_high_filter()
{
    size_t run_low = 0, run_size = 0;
    for (size_t high = 0; high < 256;) {
        size_t size = 0;
        while (high + size < 256 && utf16_key_highs[high + size])
            ++size;
        if (size > run_size)
            run_low = high, run_size = size;
        high += size ? size : 1;
    }
    KeyFilter filter{static_cast<uint8_t>(run_low), static_cast<uint8_t>(run_size - 1), {}};
    for (size_t high = 0; high < 256; ++high) {
        if (utf16_key_highs[high] && (high < run_low || high >= run_low + run_size))
            filter.others.bytes[filter.others.count++] = static_cast<uint8_t>(high);
    }
    return filter;
}

constexpr KeyFilter utf16_high_filter = make_utf16_high_filter();

// Whether a unit begins a two-unit search, so it must wait for the next.
constexpr bool starts_pair(char16_t unit)
{
    for (const LetterFix& fix : repairs) {
        if (fix.search[1] && fix.search[0] == unit)
            return true;
    }
    return false;
}
