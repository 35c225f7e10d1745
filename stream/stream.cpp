// The streaming repair: one left-to-right scan over each piece, in place.
// The rows never feed one another and no two searches overlap, so a single
// scan finds what the nineteen passes of the window program find, and the
// compositions with them. No
// replacement is longer than its search, so the repaired text is written
// over the piece itself, behind the scan.
#include "stream/stream.h"

#include "stream/fixes.h"
#include "stream/utf8_hits.h"
#include "stream/words.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "stream/simd.h"

#if defined(STREAM_WIDE)
namespace {

bool processor_has_wide_vectors()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

const bool has_wide_vectors = processor_has_wide_vectors();
VectorWidth allowed_width = VectorWidth::widest;

#if defined(STREAM_WIDEST)
bool processor_has_widest_vectors()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi") &&
           __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2");
}

const bool has_widest_vectors = processor_has_widest_vectors();
#endif

}  // namespace

bool wide_scans() { return has_wide_vectors && allowed_width != VectorWidth::narrow; }
#if defined(STREAM_WIDEST)
bool widest_scans() { return has_widest_vectors && allowed_width == VectorWidth::widest; }
#endif
#endif

void allow_vectors(VectorWidth widest)
{
#if defined(STREAM_WIDE)
    allowed_width = widest;
#else
    (void)widest;
#endif
}

namespace {

constexpr size_t hold_limit = longest_utf8_search() - 1;
constexpr uint8_t utf8_bom[] = {0xEF, 0xBB, 0xBF};

// What the UTF-8 scan stops at besides the key bytes, so that the word
// stage need not search the piece again: the lead byte of the Greek
// capitals, and with the word rule the bytes that may start a twin; the
// stage is told of each hit while it takes them. Then the scan watches
// the key bytes alone.
enum class Watch { keys, capitals, twins };

#if defined(STREAM_SIMD)
// A range test [low, low + span] in one signed compare: adding 0x80 - low
// moves the range to the bottom of the signed bytes, which holds for spans
// below 0x7F (the ranges here span a few leads).
struct ByteRange {
    __m128i bias, limit;
};

ByteRange make_range(uint8_t low, uint8_t span)
{
    return {_mm_set1_epi8(static_cast<char>(0x80 - low)), _mm_set1_epi8(static_cast<char>(0x80 + span + 1))};
}

__m128i in_range(__m128i block, const ByteRange& range)
{
    return _mm_cmplt_epi8(_mm_add_epi8(block, range.bias), range.limit);
}

static_assert(utf8_key_filter.span < 0x20 && utf16_high_filter.span < 0x20, "a range spans a few leads");

// The scan's vector test: the bytes in one or two ranges, or among a few
// others. Watching widens the key bytes' range over the watched leads and
// adds the bytes 0x41 to 0x7F, the ASCII letters among them, in one signed
// compare; the few other bytes that brings in are told apart one by one,
// and are rare in Cyrillic text.
struct ScanVectors {
    ByteRange keys;
    bool ascii;
    __m128i below_ascii_letters;
    __m128i others[utf8_key_filter.others.count];
};

ScanVectors make_scan_vectors(Watch watch)
{
    uint8_t low = utf8_key_filter.low, high = uint8_t(utf8_key_filter.low + utf8_key_filter.span);
    if (watch != Watch::keys) {
        low = std::min<uint8_t>(low, watch == Watch::twins ? 0xC3 : greek_lead);
        high = std::max<uint8_t>(high, greek_lead);
    }
    ScanVectors scan;
    scan.keys = make_range(low, uint8_t(high - low));
    scan.ascii = watch == Watch::twins;
    scan.below_ascii_letters = _mm_set1_epi8('A' - 1);
    for (size_t k = 0; k < utf8_key_filter.others.count; ++k)
        scan.others[k] = _mm_set1_epi8(static_cast<char>(utf8_key_filter.others.bytes[k]));
    return scan;
}

const ScanVectors scan_vectors[] = {make_scan_vectors(Watch::keys), make_scan_vectors(Watch::capitals),
                                    make_scan_vectors(Watch::twins)};

// Bit i set when byte i of the 16 at p may be a key byte, or one watched
// for.
unsigned key_mask(const uint8_t* p, const ScanVectors& scan)
{
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hits = in_range(block, scan.keys);
    if (scan.ascii)
        hits = _mm_or_si128(hits, _mm_cmpgt_epi8(block, scan.below_ascii_letters));
    for (const __m128i& other : scan.others)
        hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, other));
    return static_cast<unsigned>(_mm_movemask_epi8(hits));
}
#endif

#if defined(STREAM_WIDE)
// ScanVectors across 32 bytes. With no ASCII letters to watch, the ASCII
// test takes 0x7F as its bound, which no signed byte exceeds.
struct WideScan {
    __m256i bias, limit, below_ascii_letters;
    __m256i others[utf8_key_filter.others.count];
};

WIDE_CODE unsigned wide_key_mask(const uint8_t* p, const WideScan& scan)
{
    __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    __m256i hits = _mm256_cmpgt_epi8(scan.limit, _mm256_add_epi8(block, scan.bias));
    hits = _mm256_or_si256(hits, _mm256_cmpgt_epi8(block, scan.below_ascii_letters));
    for (const __m256i& other : scan.others)
        hits = _mm256_or_si256(hits, _mm256_cmpeq_epi8(block, other));
    return static_cast<unsigned>(_mm256_movemask_epi8(hits));
}

// find_candidates, a block in one test.
WIDE_CODE const uint8_t* find_wide_candidates(const uint8_t* p, const uint8_t* end, const ScanVectors& narrow,
                                              unsigned& mask)
{
    WideScan scan;
    scan.bias = _mm256_broadcastsi128_si256(narrow.keys.bias);
    scan.limit = _mm256_broadcastsi128_si256(narrow.keys.limit);
    scan.below_ascii_letters = _mm256_set1_epi8(narrow.ascii ? 'A' - 1 : 0x7F);
    for (size_t k = 0; k < utf8_key_filter.others.count; ++k)
        scan.others[k] = _mm256_broadcastsi128_si256(narrow.others[k]);
    // Two blocks a step: clean text costs one branch per 64 bytes.
    for (; end - p >= 64; p += 64) {
        unsigned first = wide_key_mask(p, scan), second = wide_key_mask(p + 32, scan);
        if (first | second) {
            bool in_first = first != 0;
            mask = in_first ? first : second;
            return in_first ? p : p + 32;
        }
    }
    for (; end - p >= 32; p += 32) {
        if ((mask = wide_key_mask(p, scan)))
            return p;
    }
    if (p < end) {
        uint8_t padded[32] = {};
        std::memcpy(padded, p, end - p);
        if ((mask = wide_key_mask(padded, scan)))
            return p;
    }
    return end;
}
#endif

constexpr size_t small_greek_limit = 64;

static_assert(
    [] {
        for (size_t i = 0; i < utf8_keys.count; ++i) {
            if (utf8_keys.bytes[i] < 0x80)
                return false;
        }
        return true;
    }(),
    "no ASCII byte starts a look-alike");

bool is_watched(uint8_t byte, Watch watch)
{
    return watch != Watch::keys && is_hit_byte(byte, watch == Watch::twins);
}

// Whether the greek_lead at `lead` starts a Greek capital that lies whole
// before end, as is_hit_unit tells a UTF-16 one. A lead cut off at the end
// is searched for by the word stage, which carries it.
bool is_capital_at(const uint8_t* lead, const uint8_t* end)
{
    return end - lead >= 2 && is_capital_second(lead[1]);
}

// The first block of 32 bytes at p, p + 32, ... before end that holds a
// byte that may be a key byte or is watched for, with those bytes' bits in
// `mask`; or end. A last block shorter than 32 bytes is tested as if zeros,
// which are neither, followed it. In Cyrillic text such bytes are rare, so
// this runs at the speed of memory.
const uint8_t* find_candidates(const uint8_t* p, const uint8_t* end, Watch watch, unsigned& mask)
{
#if defined(STREAM_SIMD)
    const ScanVectors& scan = scan_vectors[size_t(watch)];
#if defined(STREAM_WIDE)
    if (wide_scans())
        return find_wide_candidates(p, end, scan, mask);
#endif
    for (; end - p >= 32; p += 32) {
        mask = key_mask(p, scan) | key_mask(p + 16, scan) << 16;
        if (mask)
            return p;
    }
    if (p < end) {
        uint8_t padded[32] = {};
        std::memcpy(padded, p, end - p);
        mask = key_mask(padded, scan) | key_mask(padded + 16, scan) << 16;
        if (mask)
            return p;
    }
    return end;
#else
    for (; p < end; p += 32) {
        mask = 0;
        for (size_t i = 0; i < 32 && p + i < end; ++i) {
            if (is_utf8_key[p[i]] || is_watched(p[i], watch))
                mask |= 1u << i;
        }
        if (mask)
            return p;
    }
    return end;
#endif
}

#if defined(STREAM_SIMD)
struct HighVectors {
    ByteRange range;
    __m128i others[utf16_high_filter.others.count];
};

HighVectors make_high_vectors()
{
    HighVectors vectors;
    vectors.range = make_range(utf16_high_filter.low, utf16_high_filter.span);
    for (size_t k = 0; k < utf16_high_filter.others.count; ++k)
        vectors.others[k] = _mm_set1_epi8(static_cast<char>(utf16_high_filter.others.bytes[k]));
    return vectors;
}

const HighVectors high_vectors = make_high_vectors();

// The high bytes of the 16 units at p, in order; p lies on the unit grid.
template <bool big_endian>
__m128i high_bytes(const uint8_t* p)
{
    __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    if (big_endian) {
        __m128i low_lane = _mm_set1_epi16(0xFF);
        return _mm_packus_epi16(_mm_and_si128(first, low_lane), _mm_and_si128(second, low_lane));
    }
    return _mm_packus_epi16(_mm_srli_epi16(first, 8), _mm_srli_epi16(second, 8));
}

// Their low bytes, which lie where the other byte order keeps the high ones.
template <bool big_endian>
__m128i low_bytes(const uint8_t* p)
{
    return high_bytes<!big_endian>(p);
}

// Bit i set when unit i of the 16 at p may end a search: its high byte is
// one of the key units'.
template <bool big_endian>
unsigned utf16_key_mask(const uint8_t* p)
{
    __m128i highs = high_bytes<big_endian>(p);
    __m128i hits = in_range(highs, high_vectors.range);
    for (const __m128i& other : high_vectors.others)
        hits = _mm_or_si128(hits, _mm_cmpeq_epi8(highs, other));
    return static_cast<unsigned>(_mm_movemask_epi8(hits));
}
#endif

// ASCII, and U+03AA to U+03FF (Greek small letters and signs): no search
// holds them, and the word stage looks for none of them but ASCII letters,
// which only the word rule watches for.
bool is_passed_over(char16_t unit) { return unit < 0x80 || unit - 0x03AAu <= 0x03FF - 0x03AAu; }

template <bool big_endian>
char16_t unit_at(const uint8_t* p)
{
    return big_endian ? static_cast<char16_t>(p[0] << 8 | p[1])
                      : static_cast<char16_t>(p[1] << 8 | p[0]);
}

// Whether a unit that is no key unit may start a twin: U+0040 to U+007F
// hold the ASCII letters and U+00C0 to U+00FF the Latin-1 ones (the twins
// above them, and the Greek letters, share their high bytes with the key
// units). The few signs among them are rare in Cyrillic text, and the word
// stage tells them apart; U+0080 to U+00BF, with the quotation marks and
// the no-break space that Cyrillic text uses, are left out.
bool is_watched_unit(char16_t unit) { return (unit & 0xFF40) == 0x0040; }

#if defined(STREAM_SIMD)
// Bit i set when unit i of the 16 at p is one that is_watched_unit takes.
template <bool big_endian>
unsigned utf16_watch_mask(const uint8_t* p)
{
    __m128i below_0100 = _mm_cmpeq_epi8(high_bytes<big_endian>(p), _mm_setzero_si128());
    __m128i bit_6 = _mm_set1_epi8(0x40);
    __m128i with_bit_6 = _mm_cmpeq_epi8(_mm_and_si128(low_bytes<big_endian>(p), bit_6), bit_6);
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(below_0100, with_bit_6)));
}
#endif

#if defined(STREAM_WIDE)
// The high bytes of the 32 units at p, in order: packing works within each
// half of the vectors, so the quarters come out as a0 b0 a1 b1 and are put
// back in order.
template <bool big_endian>
WIDE_CODE __m256i wide_high_bytes(const uint8_t* p)
{
    __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    __m256i packed;
    if (big_endian) {
        __m256i low_lane = _mm256_set1_epi16(0xFF);
        packed = _mm256_packus_epi16(_mm256_and_si256(first, low_lane), _mm256_and_si256(second, low_lane));
    } else {
        packed = _mm256_packus_epi16(_mm256_srli_epi16(first, 8), _mm256_srli_epi16(second, 8));
    }
    return _mm256_permute4x64_epi64(packed, 0xD8);
}

// The scan of find_key_unit over 64 bytes at a time: the first unit found,
// or null with p moved to where fewer than 64 bytes are left.
template <bool big_endian, bool watch>
WIDE_CODE const uint8_t* find_wide_key_unit(const uint8_t*& p, const uint8_t* end)
{
    const __m256i bias = _mm256_broadcastsi128_si256(high_vectors.range.bias);
    const __m256i limit = _mm256_broadcastsi128_si256(high_vectors.range.limit);
    const __m256i bit_6 = _mm256_set1_epi8(0x40);
    __m256i others[utf16_high_filter.others.count];
    for (size_t k = 0; k < utf16_high_filter.others.count; ++k)
        others[k] = _mm256_broadcastsi128_si256(high_vectors.others[k]);
    for (; end - p >= 64; p += 64) {
        __m256i highs = wide_high_bytes<big_endian>(p);
        __m256i hits = _mm256_cmpgt_epi8(limit, _mm256_add_epi8(highs, bias));
        for (const __m256i& other : others)
            hits = _mm256_or_si256(hits, _mm256_cmpeq_epi8(highs, other));
        if (watch) {
            __m256i lows = wide_high_bytes<!big_endian>(p);
            __m256i below_0100 = _mm256_cmpeq_epi8(highs, _mm256_setzero_si256());
            __m256i with_bit_6 = _mm256_cmpeq_epi8(_mm256_and_si256(lows, bit_6), bit_6);
            hits = _mm256_or_si256(hits, _mm256_and_si256(below_0100, with_bit_6));
        }
        if (unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(hits)))
            return p + 2 * __builtin_ctz(mask);
    }
    return nullptr;
}
#endif

// The first unit in [p, end) that may end a search, or with `watch` may
// start a twin, or end; p lies on the unit grid and end is a whole number
// of units from it. Cyrillic units never qualify, so this too runs at the
// speed of memory. Kept out of line: inlined into the scan, the watching
// loop ran 15 % slower over clean text.
template <bool big_endian, bool watch>
__attribute__((noinline)) const uint8_t* find_key_unit(const uint8_t* p, const uint8_t* end)
{
#if defined(STREAM_WIDE)
    if (wide_scans()) {
        if (const uint8_t* found = find_wide_key_unit<big_endian, watch>(p, end))
            return found;
    }
#endif
#if defined(STREAM_SIMD)
    for (; end - p >= 64; p += 64) {
        unsigned mask = utf16_key_mask<big_endian>(p) | utf16_key_mask<big_endian>(p + 32) << 16;
        if (watch)
            mask |= utf16_watch_mask<big_endian>(p) | utf16_watch_mask<big_endian>(p + 32) << 16;
        if (mask)
            return p + 2 * __builtin_ctz(mask);
    }
#endif
    for (; p < end; p += 2) {
        if (utf16_key_highs[p[big_endian ? 0 : 1]] || (watch && is_watched_unit(unit_at<big_endian>(p))))
            return p;
    }
    return end;
}

// The bytes a search may be compared in one go: an 8-byte load at its
// start, masked to its size. The buffer keeps that many bytes of slack
// after the text so that the load never leaves it.
constexpr size_t word_slack = 8;

// The row that no text matches, for the judgement below to fall back on.
constexpr size_t no_row = fix_count;

struct SearchWord {
    uint64_t bytes, mask;
    size_t size;
};

// Each row's search as a masked word, and for no_row a word that wants
// 0xFF, which no UTF-8 text holds.
std::array<SearchWord, fix_count + 1> make_search_words()
{
    std::array<SearchWord, fix_count + 1> words{};
    for (size_t row = 0; row < fix_count; ++row) {
        uint8_t bytes[8] = {}, mask[8] = {};
        std::memcpy(bytes, utf8_fixes[row].search, utf8_fixes[row].search_size);
        std::memset(mask, 0xFF, utf8_fixes[row].search_size);
        std::memcpy(&words[row].bytes, bytes, 8);
        std::memcpy(&words[row].mask, mask, 8);
        words[row].size = utf8_fixes[row].search_size;
    }
    words[no_row] = {0xFF, 0xFF, 1};
    return words;
}

const std::array<SearchWord, fix_count + 1> search_words = make_search_words();

bool search_at(const uint8_t* start, size_t row)
{
    uint64_t word;
    std::memcpy(&word, start, sizeof word);
    return (word & search_words[row].mask) == search_words[row].bytes;
}

// The composition of each Cyrillic letter with each mark, by the mark's
// slot (its distance from the first mark) and the letter's distance from
// U+0400; no_row for none. A mark ends dozens of searches, and its letter
// before it picks one. One more slot, all no_row, serves the key
// characters that are no mark.
constexpr size_t mark_count = pair_ends.high - pair_ends.low + 1;
constexpr size_t no_mark = mark_count;

constexpr std::array<uint8_t, (mark_count + 1) * 0x100> make_mark_rows()
{
    std::array<uint8_t, (mark_count + 1) * 0x100> rows{};
    for (uint8_t& row : rows)
        row = no_row;
    for (size_t row = 0; row < fix_count; ++row) {
        const char16_t* search = repairs[row].search;
        if (!is_scanned(row) || !search[1] || single_row(search[0]) >= 0)
            continue;
        uint8_t& slot = rows[(search[1] - pair_ends.low) * 0x100 + (search[0] - 0x400)];
        slot = slot == no_row ? static_cast<uint8_t>(row) : slot;
    }
    return rows;
}

constexpr std::array<uint8_t, (mark_count + 1) * 0x100> mark_rows = make_mark_rows();

// Whether every search keyed on its mark is a Cyrillic letter and a mark,
// two bytes each, which is what the table above holds.
constexpr bool marks_follow_cyrillic()
{
    for (size_t row = 0; row < fix_count; ++row) {
        const char16_t* search = repairs[row].search;
        if (!is_scanned(row) || !search[1] || single_row(search[0]) >= 0)
            continue;
        if (search[0] < 0x400 || search[0] > 0x4FF || utf8_fixes[row].key_at != 2 || search[2])
            return false;
    }
    return true;
}
static_assert(marks_follow_cyrillic(), "a mark's letter before it is one Cyrillic letter");

// What a key character may start, by its first two bytes (which tell the
// key characters apart, as checked below): the row of the character with
// the mark after it, the row of the character alone, and its slot in
// mark_rows if it is a mark. What it cannot start is no_row or no_mark,
// so every candidate is judged the same way, without a branch on what it
// turns out to be (in damaged text that branch goes either way).
struct KeyEntry {
    uint8_t with_mark, alone, mark;
};

constexpr size_t key_index(uint8_t lead, uint8_t next) { return size_t(lead & 0x3F) << 6 | (next & 0x3F); }

struct KeyEntries {
    std::array<KeyEntry, 0x1000> entries;
    bool one_each;  // no two rows claimed one field
};

constexpr KeyEntries make_key_entries()
{
    KeyEntries table{{}, true};
    for (KeyEntry& entry : table.entries)
        entry = {no_row, no_row, no_mark};
    for (size_t row = 0; row < fix_count; ++row) {
        const Utf8Fix& fix = utf8_fixes[row];
        if (!is_scanned(row))
            continue;
        KeyEntry& entry = table.entries[key_index(fix.search[fix.key_at], fix.search[fix.key_at + 1])];
        if (fix.key_at) {
            uint8_t mark = static_cast<uint8_t>(repairs[row].search[1] - pair_ends.low);
            table.one_each = table.one_each && (entry.mark == no_mark || entry.mark == mark);
            entry.mark = mark;
            continue;
        }
        uint8_t& field = repairs[row].search[1] ? entry.with_mark : entry.alone;
        table.one_each = table.one_each && field == no_row;
        field = static_cast<uint8_t>(row);
    }
    return table;
}

constexpr KeyEntries key_entries = make_key_entries();
static_assert(key_entries.one_each, "no two key characters share their first two bytes, and a "
                                    "look-alike composes with one mark at most");

// Whether the search of `row` lies whole in [start, end) at its start.
bool search_whole_at(const uint8_t* start, const uint8_t* end, size_t row)
{
    bool whole = size_t(end - start) >= search_words[row].size, same = search_at(start, row);
    return whole & same;
}

// `row` if `match`, else `otherwise`, chosen without a branch: in damaged
// text which one holds is as good as random.
size_t either(bool match, size_t row, size_t otherwise)
{
    size_t take = 0 - size_t(match);
    return (row & take) | (otherwise & ~take);
}

// The row of the Cyrillic letter at `letter` composed with the mark in
// mark_rows' slot `mark`, or no_row.
size_t composition_row(size_t mark, const uint8_t* letter)
{
    return mark_rows[mark * 0x100 + ((letter[0] & 0x03) << 6 | (letter[1] & 0x3F))];
}

// The row whose search lies whole in [from, end) with its key byte at
// `key`, or no_row. The byte after `key` is read whatever it holds: the
// buffer has slack after the text. Each row it may be is compared whole,
// so the letter before a mark is told by its row's search too; a mark
// right at `from` has none before it, and is compared as if it started
// its row's search, which none does.
size_t utf8_fix_at(const uint8_t* from, const uint8_t* key, const uint8_t* end)
{
    const KeyEntry& entry = key_entries.entries[key_index(key[0], key[1])];
    const uint8_t* letter = key - from >= 2 ? key - 2 : key;
    size_t composed = composition_row(entry.mark, letter);
    size_t row = either(search_whole_at(letter, end, composed), composed, no_row);
    row = either(search_whole_at(key, end, entry.alone), entry.alone, row);
    return either(search_whole_at(key, end, entry.with_mark), entry.with_mark, row);
}

bool is_utf8_search_prefix(const uint8_t* p, size_t size)
{
    for (const Utf8Fix& fix : utf8_fixes) {
        if (size < fix.search_size && !std::memcmp(p, fix.search, size))
            return true;
    }
    return false;
}

// How many bytes at the end of [begin, end) may begin a look-alike that the
// next piece completes. Every search starts with a lead byte and holds no
// other byte that starts a search, so a look-alike found whole before them
// never reaches into them.
size_t utf8_tail_to_hold(const uint8_t* begin, const uint8_t* end)
{
    size_t longest = static_cast<size_t>(end - begin) < hold_limit ? end - begin : hold_limit;
    for (size_t size = longest; size > 0; --size) {
        if (is_utf8_search_prefix(end - size, size))
            return size;
    }
    return 0;
}

template <bool big_endian>
void put_unit(char16_t unit, uint8_t* out)
{
    out[big_endian ? 0 : 1] = static_cast<uint8_t>(unit >> 8);
    out[big_endian ? 1 : 0] = static_cast<uint8_t>(unit);
}

// The row whose search ends with the unit at `key` and lies whole in
// [from, key + 2), or -1. A look-alike that a mark in [key + 2, end)
// composes with is left to the mark, whose row takes both.
template <bool big_endian>
int utf16_fix_at(const uint8_t* from, const uint8_t* key, const uint8_t* end)
{
    char16_t unit = unit_at<big_endian>(key);
    KeyRows rows = utf16_row_index.key_rows[unit & 0xFF];
    for (size_t i = rows.first; i < size_t{rows.first} + rows.count; ++i) {
        size_t row = utf16_row_index.rows_by_key[i];
        const char16_t* search = repairs[row].search;
        if (!search[1]) {
            if (search[0] != unit)
                continue;
            bool paired = end - key >= 4 && pair_row(unit, unit_at<big_endian>(key + 2)) >= 0;
            return paired ? -1 : static_cast<int>(row);
        }
        if (search[1] == unit && key - from >= 2 && unit_at<big_endian>(key - 2) == search[0])
            return static_cast<int>(row);
    }
    return -1;
}

// Whether the unit at `at` is one the word stage looks for that the scan
// leaves as it is: a look-alike that the mark after it composes with is the
// mark's to repair, unless the stage repairs that pair, as it does a Greek
// capital's.
template <bool big_endian>
bool is_told_unit(const uint8_t* at, const uint8_t* end, bool twins)
{
    char16_t unit = unit_at<big_endian>(at);
    if (!is_hit_unit(unit, twins))
        return false;
    int pair = end - at < 4 ? -1 : pair_row(unit, unit_at<big_endian>(at + 2));
    return pair < 0 || !is_scanned(size_t(pair));
}

#if defined(STREAM_WIDE)
// The three Latin letters: the look-alikes that are one unit, as their
// replacements are, and repaired wherever they stand unless a mark follows.
struct LoneUnits {
    char16_t search[3], replacement[3];
    uint8_t row[3];
    size_t count;  // of the scan's one-unit rows, all of which must fit
};

constexpr LoneUnits make_lone_units()
{
    LoneUnits lone{};
    for (size_t row = 0; row < fix_count; ++row) {
        if (!is_scanned(row) || repairs[row].search[1])
            continue;
        if (lone.count < 3) {
            lone.search[lone.count] = repairs[row].search[0];
            lone.replacement[lone.count] = repairs[row].replacement[0];
            lone.row[lone.count] = static_cast<uint8_t>(row);
        }
        ++lone.count;
    }
    return lone;
}

constexpr LoneUnits lone_units = make_lone_units();
static_assert(lone_units.count == 3, "the scan repairs three look-alikes that are one unit alone");

// Tells the stage of each capital of a block stored at `at`, bit i of
// `capitals` standing for the character that starts `unit` * i bytes on;
// false, with none told, when the stage has no room for them all.
inline bool tell_capitals(WordStage* stage, uint64_t capitals, size_t at, size_t unit)
{
    if (size_t(__builtin_popcountll(capitals)) > stage->hit_room())
        return false;
    for (; capitals; capitals &= capitals - 1)
        stage->hit_read(at + unit * size_t(__builtin_ctzll(capitals)));
    return true;
}

// Dense damage in UTF-16 is mostly the Latin letters, which keep their
// size: 16 units at a time are repaired with no branch on where they lie
// and moved from `from` to `to` (the same place until a mark has been
// composed), and each Greek capital is told to the stage (none once it
// searches for them itself: null). Stops before a block with any other
// unit the scan stops at (a mark, a small Greek letter), a block that a
// mark follows, a block whose capitals the stage has no room for, or fewer
// than 34 bytes before limit.
template <bool big_endian>
WIDE_CODE void move_units(const uint8_t*& from, uint8_t*& to, const uint8_t* limit, WordStage* stage,
                          const uint8_t* base)
{
    static_assert(utf16_high_filter.others.count == 1, "the key units' high bytes are one run and one more");
    const __m256i swap = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3, 2, 5, 4,
                                          7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    const __m256i run_low = _mm256_set1_epi16(utf16_high_filter.low);
    const __m256i run_span = _mm256_set1_epi16(utf16_high_filter.span);
    const __m256i other = _mm256_set1_epi16(utf16_high_filter.others.bytes[0]);
    const __m256i capital_low = _mm256_set1_epi16(0x0391), capital_span = _mm256_set1_epi16(0x03A9 - 0x0391);
    __m256i search[3], change[3];
    for (size_t k = 0; k < 3; ++k) {
        search[k] = _mm256_set1_epi16(short(lone_units.search[k]));
        change[k] = _mm256_set1_epi16(short(lone_units.search[k] ^ lone_units.replacement[k]));
    }
    const uint8_t* in = from;
    uint8_t* out = to;
    __m256i units;
    unsigned told;
    // Blocks without capitals go on in the inner loop, which calls nothing,
    // so that its constants stay in registers.
    do {
        told = 0;
        for (; limit - in >= 34 && !is_pair_end(unit_at<big_endian>(in + 32)); in += 32, out += 32) {
            units = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
            if (big_endian)
                units = _mm256_shuffle_epi8(units, swap);
            __m256i highs = _mm256_srli_epi16(units, 8);
            __m256i offset = _mm256_sub_epi16(highs, run_low);
            __m256i stops = _mm256_or_si256(_mm256_cmpeq_epi16(_mm256_min_epu16(offset, run_span), offset),
                                            _mm256_cmpeq_epi16(highs, other));
            offset = _mm256_sub_epi16(units, capital_low);
            __m256i capitals = _mm256_cmpeq_epi16(_mm256_min_epu16(offset, capital_span), offset), known = capitals;
#pragma GCC unroll 3
            for (size_t k = 0; k < 3; ++k) {
                __m256i found = _mm256_cmpeq_epi16(units, search[k]);
                known = _mm256_or_si256(known, found);
                units = _mm256_xor_si256(units, _mm256_and_si256(found, change[k]));
            }
            if (!_mm256_testz_si256(stops, _mm256_andnot_si256(known, stops)))
                goto done;
            if (big_endian)
                units = _mm256_shuffle_epi8(units, swap);
            if (stage && (told = unsigned(_mm256_movemask_epi8(capitals)) & 0x55555555u))
                break;
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), units);
        }
        if (!told || !tell_capitals(stage, told, size_t(out - base), 1))
            break;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), units);
        in += 32;
        out += 32;
    } while (true);
done:
    from = in;
    to = out;
}
#endif

#if defined(STREAM_WIDEST)
// The movers' constants, most of them a byte or unit repeated over a
// vector, as memory that their instructions read: built in registers, they
// were built again for every block, since the calls after the movers' inner
// loops take every vector register.
struct alignas(64) ByteVector {
    uint8_t bytes[64];
};

constexpr ByteVector splat(uint8_t byte)
{
    ByteVector vector{};
    for (uint8_t& b : vector.bytes)
        b = byte;
    return vector;
}

constexpr ByteVector splat_units(uint16_t unit)
{
    ByteVector vector{};
    for (size_t i = 0; i < 64; i += 2) {
        vector.bytes[i] = static_cast<uint8_t>(unit);
        vector.bytes[i + 1] = static_cast<uint8_t>(unit >> 8);
    }
    return vector;
}

WIDEST_CODE __m512i load(const ByteVector& vector) { return _mm512_load_si512(vector.bytes); }

// `constants`, hidden from the compiler, which would otherwise build them
// in registers again.
template <class Constants>
const Constants& opaque(const Constants& constants)
{
    const Constants* hidden = &constants;
    asm("" : "+r"(hidden));
    return *hidden;
}

struct UnitMoverVectors {
    ByteVector swap, run_low, run_span, other, capital_low, capital_span, mark_low, mark_span;
    ByteVector case_bit, letter_a, letter_span, latin_low, latin_span, search[3], replacement[3];
};

constexpr UnitMoverVectors make_unit_mover_vectors()
{
    UnitMoverVectors vectors{{}, splat_units(utf16_high_filter.low), splat_units(utf16_high_filter.span),
                             splat_units(utf16_high_filter.others.bytes[0]), splat_units(0x0391),
                             splat_units(0x03A9 - 0x0391), splat_units(pair_ends.low),
                             splat_units(pair_ends.high - pair_ends.low), splat_units(0x20), splat_units('a'),
                             splat_units('z' - 'a'), splat_units(0xC0), splat_units(0xFF - 0xC0), {}, {}};
    // Each unit's two bytes swapped, for big-endian text.
    for (size_t i = 0; i < 64; ++i)
        vectors.swap.bytes[i] = static_cast<uint8_t>(i ^ 1);
    for (size_t k = 0; k < 3; ++k) {
        vectors.search[k] = splat_units(lone_units.search[k]);
        vectors.replacement[k] = splat_units(lone_units.replacement[k]);
    }
    return vectors;
}

constexpr UnitMoverVectors unit_mover_vectors = make_unit_mover_vectors();

// The repairs of a block of units stored at `at` (its `kept` units packed),
// in the order of the text, as the scan reports them: the Latin letters of
// `lone` (by letter), and the compositions with marks at `composed`, whose
// rows `rows` holds by where they start.
WIDEST_CODE void report_unit_repairs(WordStage& stage, const uint32_t (&lone)[3], uint32_t composed,
                                     const uint8_t* rows, size_t at, uint32_t kept)
{
    for (uint32_t repairs = lone[0] | lone[1] | lone[2] | composed; repairs; repairs &= repairs - 1) {
        unsigned i = unsigned(__builtin_ctz(repairs));
        size_t row = composed >> i & 1  ? rows[i]
                     : lone[0] >> i & 1 ? lone_units.row[0]
                     : lone[1] >> i & 1 ? lone_units.row[1]
                                        : lone_units.row[2];
        stage.row_found(int(row), at + 2 * size_t(__builtin_popcount(_bzhi_u32(kept, i))));
    }
}

// move_units with 64-byte vectors, 32 units at a time, which also composes
// the marks whose letters lie in the block (the block is then packed as
// move_bytes packs it), and with `twins` tells the stage what the scan
// tells it with the word rule: the first ASCII letter of each run of them,
// and the letters U+00C0 to U+00FF. With `report` it reports each repair
// to the stage `reports`, as the scan does; the filter's loop, without,
// keeps no record of its repairs.
template <bool big_endian, bool report>
WIDEST_CODE void move_widest_units(const uint8_t*& from, uint8_t*& to, const uint8_t* limit, WordStage* stage,
                                   WordStage* reports, const uint8_t* base, bool twins)
{
    const UnitMoverVectors& c = opaque(unit_mover_vectors);
    const uint8_t* in = from;
    uint8_t* out = to;
    __m512i units;
    uint32_t told, marks, letters = 0;  // letters: the block's ASCII letters
    uint32_t lone[3];                     // the block's Latin letters, by letter
    // Blocks without capitals or marks go on in the inner loop.
    for (;; in += 64) {
        told = marks = 0;
        for (; limit - in >= 66 && !is_pair_end(unit_at<big_endian>(in + 64)); in += 64, out += 64) {
            units = _mm512_loadu_si512(in);
            if (big_endian)
                units = _mm512_shuffle_epi8(units, load(c.swap));
            __m512i highs = _mm512_srli_epi16(units, 8);
            uint32_t stops = _mm512_cmple_epu16_mask(_mm512_sub_epi16(highs, load(c.run_low)), load(c.run_span)) |
                             _mm512_cmpeq_epi16_mask(highs, load(c.other));
            uint32_t capitals =
                _mm512_cmple_epu16_mask(_mm512_sub_epi16(units, load(c.capital_low)), load(c.capital_span));
            marks = _mm512_cmple_epu16_mask(_mm512_sub_epi16(units, load(c.mark_low)), load(c.mark_span));
            uint32_t known = capitals | marks;
#pragma GCC unroll 3
            for (size_t k = 0; k < 3; ++k) {
                lone[k] = _mm512_cmpeq_epi16_mask(units, load(c.search[k]));
                known |= lone[k];
                units = _mm512_mask_mov_epi16(units, lone[k], load(c.replacement[k]));
            }
            if (stops & ~known)
                goto done;
            told = capitals;
            if (twins) {
                __m512i lower = _mm512_or_si512(units, load(c.case_bit));
                uint32_t before = letters >> 31;
                letters = _mm512_cmple_epu16_mask(_mm512_sub_epi16(lower, load(c.letter_a)), load(c.letter_span));
                uint32_t latin =
                    _mm512_cmple_epu16_mask(_mm512_sub_epi16(units, load(c.latin_low)), load(c.latin_span));
                // Such letters are rare in Cyrillic text, so a branch
                // passes over telling them. A run of letters that goes on
                // from the block before was told there.
                if (letters | latin)
                    told |= (letters & ~(letters << 1 | before)) | latin;
            }
            told = stage ? told : 0;
            if (told | marks)
                break;
            if (report && (lone[0] | lone[1] | lone[2]))
                report_unit_repairs(*reports, lone, 0, nullptr, size_t(out - base), ~0u);
            _mm512_storeu_si512(out, big_endian ? _mm512_shuffle_epi8(units, load(c.swap)) : units);
        }
        if (!(told | marks))
            break;
        // A mark composes with the unit before it, as the scan tries them;
        // one first in the block has none there.
        uint32_t dropped = 0, composed = 0;
        uint8_t rows[32];
        for (marks &= ~1u; marks; marks &= marks - 1) {
            size_t at_mark = size_t(__builtin_ctz(marks));
            int row = utf16_fix_at<big_endian>(in + 2 * (at_mark - 1), in + 2 * at_mark, limit);
            if (row < 0)
                continue;
            units = _mm512_mask_set1_epi16(units, 1u << (at_mark - 1), short(repairs[row].replacement[0]));
            dropped |= 1u << at_mark;
            composed |= 1u << (at_mark - 1);
            rows[at_mark - 1] = uint8_t(row);
        }
        uint32_t kept = ~dropped;
        if (told && !tell_capitals(stage, _pext_u32(told, kept), size_t(out - base), 2))
            break;
        if (report)
            report_unit_repairs(*reports, lone, composed, rows, size_t(out - base), kept);
        units = _mm512_maskz_compress_epi16(kept, units);
        unsigned count = unsigned(__builtin_popcount(kept));
        _mm512_mask_storeu_epi16(out, _bzhi_u32(~0u, count),
                                 big_endian ? _mm512_shuffle_epi8(units, load(c.swap)) : units);
        out += 2 * count;
    }
done:
    from = in;
    to = out;
}

// The three Latin letters in UTF-8: a lead byte and one or two
// continuation bytes, each replaced by a two-byte letter.
struct LoneBytes {
    uint8_t search[3][3], size[3], replacement[3][2];
};

constexpr LoneBytes make_lone_bytes()
{
    LoneBytes lone{};
    for (size_t k = 0; k < 3; ++k) {
        uint8_t replacement[3] = {};
        lone.size[k] = static_cast<uint8_t>(put_utf8(lone_units.search[k], lone.search[k]));
        put_utf8(lone_units.replacement[k], replacement);
        lone.replacement[k][0] = replacement[0];
        lone.replacement[k][1] = replacement[1];
    }
    return lone;
}

constexpr LoneBytes lone_bytes = make_lone_bytes();

// What each letter's second byte becomes, by that byte's low six bits, as
// one byte permutation looks it up.
struct SecondBytes {
    uint8_t by_low_bits[64];
    bool apart;  // no two letters' second bytes share their low bits
};

constexpr SecondBytes make_second_bytes()
{
    SecondBytes table{{}, true};
    for (size_t k = 0; k < 3; ++k) {
        uint8_t& slot = table.by_low_bits[lone_bytes.search[k][1] & 0x3F];
        table.apart = table.apart && slot == 0;
        slot = lone_bytes.replacement[k][1];
    }
    return table;
}

constexpr SecondBytes second_bytes = make_second_bytes();
static_assert(second_bytes.apart, "the letters' second bytes differ in their low six bits");
static_assert(lone_bytes.replacement[0][0] == lone_bytes.replacement[1][0] &&
                  lone_bytes.replacement[0][0] == lone_bytes.replacement[2][0],
              "the three letters become letters with one lead byte");

// Whether each letter's bytes after its lead are continuation bytes, which
// no letter starts with, so that no two letters found in a block overlap.
constexpr bool lone_bytes_apart()
{
    for (size_t k = 0; k < 3; ++k) {
        if (lone_bytes.size[k] < 2 || lone_bytes.search[k][0] < 0xC0)
            return false;
        for (size_t i = 1; i < lone_bytes.size[k]; ++i) {
            if ((lone_bytes.search[k][i] & 0xC0) != 0x80)
                return false;
        }
    }
    return true;
}
static_assert(lone_bytes_apart(), "the Latin letters are two or three bytes, a lead and continuations");

// The lead byte that every mark of a pair starts with.
constexpr uint8_t mark_lead()
{
    uint8_t low[3] = {}, high[3] = {};
    put_utf8(pair_ends.low, low);
    put_utf8(pair_ends.high, high);
    return low[0] == high[0] ? low[0] : 0;
}
static_assert(mark_lead() != 0, "the marks share one lead byte");

struct MoverBytes {
    ByteVector mark, lead, second_low, second_high, first_replacement, second_replacements, search[3][3];
    // For the two commonest marks, their second bytes, and what each letter
    // from U+0400 to U+047F composes with them into, less U+0400; 0 for none.
    ByteVector breve, diaeresis, with_breve[2], with_diaeresis[2];
    ByteVector bit_6, low_2_bits, low_6_bits, cyrillic_lead, lead_span, continuation, one_later;
};

// What `letter` (U+0400 to U+04FF) composes with `mark` into, less U+0400,
// as the scan's rows give it; 0 for none.
constexpr uint8_t composed_with(char16_t mark, size_t letter)
{
    size_t row = mark_rows[(mark - pair_ends.low) * 0x100 + letter];
    if (row == no_row)
        return 0;
    const Utf8Fix& fix = utf8_fixes[row];
    return static_cast<uint8_t>((fix.replacement[0] & 0x03) << 6 | (fix.replacement[1] & 0x3F));
}

// Whether each composition above is a two-byte letter from U+0401 to
// U+04FF, whose lead byte its value's top two bits tell.
constexpr bool compositions_fit(char16_t mark)
{
    if (!is_pair_end(mark))
        return false;
    for (size_t letter = 0; letter < 0x80; ++letter) {
        size_t row = mark_rows[(mark - pair_ends.low) * 0x100 + letter];
        if (row == no_row)
            continue;
        const Utf8Fix& fix = utf8_fixes[row];
        if (fix.replacement_size != 2 || (fix.replacement[0] & 0xFC) != 0xD0 || composed_with(mark, letter) == 0)
            return false;
    }
    return true;
}
constexpr char16_t breve = 0x0306, diaeresis = 0x0308;
static_assert(compositions_fit(breve) && compositions_fit(diaeresis), "the marks compose into two-byte letters");

constexpr MoverBytes make_mover_bytes()
{
    MoverBytes bytes{};
    bytes.mark = splat(mark_lead());
    bytes.lead = splat(greek_lead);
    bytes.second_low = splat(capital_low);
    bytes.second_high = splat(capital_high);
    bytes.first_replacement = splat(lone_bytes.replacement[0][0]);
    for (size_t i = 0; i < 64; ++i)
        bytes.second_replacements.bytes[i] = second_bytes.by_low_bits[i];
    for (size_t k = 0; k < 3; ++k) {
        for (size_t i = 0; i < 3; ++i)
            bytes.search[k][i] = splat(lone_bytes.search[k][i]);
    }
    uint8_t mark_bytes[3] = {};
    put_utf8(breve, mark_bytes);
    bytes.breve = splat(mark_bytes[1]);
    put_utf8(diaeresis, mark_bytes);
    bytes.diaeresis = splat(mark_bytes[1]);
    for (size_t letter = 0; letter < 0x80; ++letter) {
        bytes.with_breve[letter >> 6].bytes[letter & 0x3F] = composed_with(breve, letter);
        bytes.with_diaeresis[letter >> 6].bytes[letter & 0x3F] = composed_with(diaeresis, letter);
    }
    bytes.bit_6 = splat(0x40);
    bytes.low_2_bits = splat(0x03);
    bytes.low_6_bits = splat(0x3F);
    bytes.cyrillic_lead = splat(0xD0);
    bytes.lead_span = splat(0x01);
    bytes.continuation = splat(0x80);
    for (size_t i = 1; i < 64; ++i)
        bytes.one_later.bytes[i] = static_cast<uint8_t>(i - 1);
    return bytes;
}

constexpr MoverBytes mover_bytes = make_mover_bytes();


// Composes in `block` each breve and diaeresis of `marks` (lead bytes in
// at[0], whose letters lie in the block) that follows a letter from U+0400
// to U+047F, as utf8_fix_at does: such a letter composes with the mark or
// keeps it. at[i] holds the bytes from i on. Returns the other marks.
// Inlined: called from both forms of move_bytes, it passed its vectors
// through memory and cost the filter a tenth at 5 %.
__attribute__((always_inline)) inline WIDEST_CODE uint64_t compose_common_marks(
    const MoverBytes& c, const __m512i (&at)[4], uint64_t marks, __m512i& block, uint64_t& covered,
    uint64_t& dropped, uint64_t& composed)
{
    uint64_t letters = marks >> 2;
    uint64_t with_breve = _mm512_mask_cmpeq_epi8_mask(letters, at[3], load(c.breve));
    uint64_t with_diaeresis = _mm512_mask_cmpeq_epi8_mask(letters, at[3], load(c.diaeresis));
    // Letters from U+0400 to U+047F, whose lead bytes are 0xD0 and 0xD1.
    uint64_t cyrillic =
        _mm512_cmple_epu8_mask(_mm512_sub_epi8(at[0], load(c.cyrillic_lead)), load(c.lead_span)) &
        _mm512_cmple_epu8_mask(_mm512_sub_epi8(at[1], load(c.continuation)), load(c.low_6_bits));
    uint64_t known = (with_breve | with_diaeresis) & cyrillic;
    // The letter's distance from U+0400: its lead byte's low bit, then its
    // second byte's low six bits (0xE4: c ? a : b, bit by bit).
    __m512i letter = _mm512_ternarylogic_epi32(_mm512_slli_epi16(at[0], 6), at[1], load(c.bit_6), 0xE4);
    __m512i value = _mm512_mask_blend_epi8(
        with_diaeresis, _mm512_permutex2var_epi8(load(c.with_breve[0]), letter, load(c.with_breve[1])),
        _mm512_permutex2var_epi8(load(c.with_diaeresis[0]), letter, load(c.with_diaeresis[1])));
    uint64_t composes = _mm512_test_epi8_mask(value, value) & known;
    // Its lead byte, 0xD0 to 0xD3, and its second byte; 0xEA: (a & b) | c.
    __m512i lead =
        _mm512_ternarylogic_epi32(_mm512_srli_epi16(value, 6), load(c.low_2_bits), load(c.cyrillic_lead), 0xEA);
    __m512i second = _mm512_ternarylogic_epi32(value, load(c.low_6_bits), load(c.continuation), 0xEA);
    block = _mm512_mask_mov_epi8(block, composes, lead);
    block = _mm512_mask_permutexvar_epi8(block, composes << 1, load(c.one_later), second);
    uint64_t gone = composes << 2 | composes << 3;
    covered |= gone;
    dropped |= gone;
    composed = composes;
    return marks & ~(known << 2);
}

// The repairs of a block read at `in` and stored at `at` (its `kept` bytes
// packed), in the order of the text, as the scan reports them: the Latin
// letters starting at `found`, the letters composed with their marks at
// `composed`, and the repairs of marks after the loop at `others`, whose
// rows `rows` holds by where they start.
WIDEST_CODE void report_repairs(WordStage& stage, const uint8_t* in, size_t at, uint64_t kept, uint64_t found,
                                uint64_t composed, uint64_t others, const uint8_t* rows)
{
    for (uint64_t repairs = found | composed | others; repairs; repairs &= repairs - 1) {
        size_t i = size_t(__builtin_ctzll(repairs));
        size_t row;
        if (others >> i & 1) {
            row = rows[i];
        } else if (found >> i & 1) {
            row = key_entries.entries[key_index(in[i], in[i + 1])].alone;
        } else {
            row = composition_row(key_entries.entries[key_index(in[i + 2], in[i + 3])].mark, in + i);
        }
        stage.row_found(int(row), at + size_t(__builtin_popcountll(_bzhi_u64(kept, unsigned(i)))));
    }
}

// The bits [first, end) of a block's mask.
WIDEST_CODE uint64_t bit_range(size_t first, size_t end)
{
    return _bzhi_u64(~uint64_t(0), unsigned(end)) & ~_bzhi_u64(~uint64_t(0), unsigned(first));
}

// Stores the bytes of `block` that `kept` names, packed, at `out`, and
// nothing after them; returns where they end.
WIDEST_CODE uint8_t* store_kept(uint8_t* out, __m512i block, uint64_t kept)
{
    unsigned count = unsigned(__builtin_popcountll(kept));
    _mm512_mask_storeu_epi8(out, _bzhi_u64(~uint64_t(0), count), _mm512_maskz_compress_epi8(kept, block));
    return out + count;
}

// Dense damage in UTF-8, as move_units in UTF-16, 64 bytes at a time: the
// Latin letters are replaced by masked moves with no branch on where they
// lie, the byte the three-byte one drops is packed out, and the block is
// stored where the repaired text goes, with nothing after it touched; a
// mark composes as the scan composes it (a breve or diaeresis after a
// Cyrillic letter in the loop, others after it), and each Greek capital is
// told to the stage (none once it searches for them itself: null). Blocks
// start 62 bytes apart, each taking whole the letters that start in its
// first 62, so that no load waits for the count of the block before. Stops
// before a block with a mark whose letter may lie outside it, a block whose
// capitals the stage has no room for, or fewer than 67 bytes before limit.
// With `report` it reports each repair to the stage `reports`, as the scan
// does; the filter's loop, without, keeps no record of its repairs.
template <bool report>
WIDEST_CODE void move_bytes(const uint8_t*& from, uint8_t*& to, const uint8_t* limit, WordStage* stage,
                            WordStage* reports, const uint8_t* base)
{
    constexpr uint64_t starts = (uint64_t(1) << 62) - 1;
    // The marks whose letters, of up to three bytes, lie in the block.
    constexpr uint64_t composed_here = starts & ~uint64_t(7);
    const MoverBytes& c = opaque(mover_bytes);
    const uint8_t* in = from;
    uint8_t* out = to;
    __m512i block;
    // taken: the first bytes of the block that the one before took whole.
    uint64_t taken = 0, found, thirds, covered, dropped, marks, told, composed;
    // Blocks without capitals, or marks other than those that
    // compose_common_marks composes, go on in the inner loop.
    for (;; in += 62) {
        marks = told = 0;
        for (; limit - in >= 67; in += 62) {
            __m512i at[4];
            for (size_t i = 0; i < 4; ++i)
                at[i] = _mm512_loadu_si512(in + i);
            marks = _mm512_cmpeq_epi8_mask(at[0], load(c.mark));
            // A mark right after the block takes its last letter.
            if ((marks & ~composed_here) | (_mm512_cmpeq_epi8_mask(at[1], load(c.mark)) >> 63))
                goto done;
            found = thirds = 0;
#pragma GCC unroll 3
            for (size_t k = 0; k < 3; ++k) {
                uint64_t letter = _mm512_mask_cmpeq_epi8_mask(starts, at[0], load(c.search[k][0])) &
                                  _mm512_cmpeq_epi8_mask(at[1], load(c.search[k][1]));
                if (lone_bytes.size[k] == 3) {
                    letter &= _mm512_cmpeq_epi8_mask(at[2], load(c.search[k][2]));
                    thirds |= letter << 2;
                }
                found |= letter;
            }
            block = _mm512_mask_mov_epi8(at[0], found, load(c.first_replacement));
            block = _mm512_mask_permutexvar_epi8(block, found << 1, block, load(c.second_replacements));
            covered = found << 1 | thirds;
            dropped = taken | thirds;
            composed = 0;
            if (marks)
                marks = compose_common_marks(c, at, marks, block, covered, dropped, composed);
            told = stage ? _mm512_mask_cmpeq_epi8_mask(starts, at[0], load(c.lead)) &
                               _mm512_cmpge_epu8_mask(at[1], load(c.second_low)) &
                               _mm512_cmple_epu8_mask(at[1], load(c.second_high))
                         : 0;
            if (marks | told)
                break;
            uint64_t kept = (starts | covered) & ~dropped;
            if (report && (found | composed))
                report_repairs(*reports, in, size_t(out - base), kept, found, composed, 0, nullptr);
            out = store_kept(out, block, kept);
            taken = covered >> 62;
        }
        if (!(marks | told))
            break;
        // A mark composes with the letter before it, or with the look-alike
        // that ends at it, as the scan tries them.
        uint64_t others = 0;
        uint8_t rows[64];
        for (; marks; marks &= marks - 1) {
            size_t at_mark = size_t(__builtin_ctzll(marks));
            size_t key = found >> (at_mark - 2) & 1 ? at_mark - 2 : thirds >> (at_mark - 1) & 1 ? at_mark - 3 : at_mark;
            size_t row = utf8_fix_at(in + (key == at_mark ? at_mark - 2 : key), in + key, limit);
            if (row == no_row)
                continue;
            const Utf8Fix& fix = utf8_fixes[row];
            size_t start = key - fix.key_at, end = start + fix.search_size;
            if (end <= at_mark)
                continue;  // the look-alike alone, as repaired above
            block = _mm512_mask_set1_epi8(block, uint64_t(1) << start, static_cast<char>(fix.replacement[0]));
            block = _mm512_mask_set1_epi8(block, uint64_t(1) << (start + 1), static_cast<char>(fix.replacement[1]));
            uint64_t rest = bit_range(start + 2, end);
            covered |= rest;
            dropped |= rest;
            others |= uint64_t(1) << start;
            rows[start] = uint8_t(row);
        }
        uint64_t kept = (starts | covered) & ~dropped;
        if (told && !tell_capitals(stage, _pext_u64(told, kept), size_t(out - base), 1))
            break;
        if (report)
            report_repairs(*reports, in, size_t(out - base), kept, found, composed, others, rows);
        out = store_kept(out, block, kept);
        taken = covered >> 62;
    }
done:
    from = in + __builtin_popcountll(taken);
    to = out;
}
#endif

}  // namespace

RepairStream::RepairStream(FindingSink* sink, bool words, size_t word_limit)
    : RepairStream(sink, words, word_limit, nullptr)
{
}

RepairStream::RepairStream(FindingSink* sink, bool words, uint8_t* room)
    : RepairStream(sink, words, longest_word, room)
{
}

RepairStream::RepairStream(FindingSink* sink, bool words, size_t word_limit, uint8_t* room)
    : words_(new WordStage(sink, words, word_limit, hold_limit + piece_size)),
      front_(WordStage::most_carried(word_limit)),
      own_room_(room ? nullptr : new uint8_t[room_size(word_limit)]),
      buffer_(room ? room : own_room_.get()),
      sink_(sink)
{
}

size_t RepairStream::room_size(size_t word_limit)
{
    return WordStage::most_carried(word_limit) + hold_limit + piece_size + word_slack;
}

RepairStream::~RepairStream() = default;

bool RepairStream::changed() const { return changed_ || words_->changed(); }

uint64_t RepairStream::line() const { return words_->line(); }

// The words that wait go first, since the held bytes move over them.
uint8_t* RepairStream::input_area()
{
    words_->move_carry(text());
    if (held_from_) {
        std::memmove(text(), text() + held_from_, held_);
        held_from_ = 0;
    }
    return text() + held_;
}

ByteSpan RepairStream::repair(size_t size, bool last)
{
    input_area();
    size_t end = held_ + size;
    // A search's 8-byte compare may reach past the text: those bytes are
    // given a value here rather than the whole buffer at every file's start.
    std::memset(text() + end, 0, word_slack);
    read_ = written_ = 0;
    if (!encoding_known_ && !settle_encoding(end, last)) {
        held_ = end;
        return {text(), 0};
    }
    size_t scanned;
    clean_ = 0;
    switch (encoding_) {
    case TextEncoding::utf8:
        scanned = repair_utf8(end, last);
        break;
    case TextEncoding::utf16le:
        scanned = repair_utf16<false>(end, last);
        break;
    default:
        scanned = repair_utf16<true>(end, last);
        break;
    }
    take_rest(scanned);
    held_ = end - scanned;
    held_from_ = held_ ? scanned : 0;
    return words_->take(text(), written_, std::min(clean_, written_), last);
}

TextEncoding announced_encoding(const uint8_t* start, size_t size, size_t& bom)
{
    bom = 0;
    if (size >= 2 && start[0] == 0xFF && start[1] == 0xFE)
        return bom = 2, TextEncoding::utf16le;
    if (size >= 2 && start[0] == 0xFE && start[1] == 0xFF)
        return bom = 2, TextEncoding::utf16be;
    if (size >= sizeof utf8_bom && !std::memcmp(start, utf8_bom, sizeof utf8_bom))
        bom = sizeof utf8_bom;
    return TextEncoding::utf8;
}

// Reads the encoding from the first bytes once three are in (or the text is
// shorter); the BOM is passed on but never scanned or counted.
bool RepairStream::settle_encoding(size_t size, bool last)
{
    const uint8_t* p = text();
    if (size < sizeof utf8_bom && !last && (size == 0 || p[0] == 0xEF || p[0] == 0xFF || p[0] == 0xFE))
        return false;
    size_t bom;
    encoding_ = announced_encoding(p, size, bom);
    encoding_known_ = true;
    words_->start(encoding_, bom);
    read_ = written_ = bom;
    return true;
}

void RepairStream::continue_text(TextEncoding encoding)
{
    encoding_ = encoding;
    encoding_known_ = true;
    words_->start(encoding_, 0);
}

// Dense damage, for the scan to hand over to a mover: each repair reaches
// this many bytes further on, and once the repairs reach dense_reach ahead
// of the scan they have come more often than one in each stretch. Sparser
// damage is scanned faster than moved.
constexpr size_t dense_stretch = 256;
constexpr size_t dense_reach = 16 * dense_stretch;

// Returns where the scan stopped: bytes from there on wait for the next piece.
// A repair writes only behind the end of its search, so the candidates of a
// block, found together, stay true for the bytes after it.
size_t RepairStream::repair_utf8(size_t end, bool last)
{
    const uint8_t* base = text();
    size_t stop = last ? end : end - utf8_tail_to_hold(base + read_, base + end);
    Watch watch = words_->twins() ? Watch::twins : Watch::capitals;
    clean_ = SIZE_MAX;
    const uint8_t* limit = base + stop;
    size_t small_greek_seen = 0;
    // Dense damage hands the scan over to move_bytes, as dense_reach tells.
    size_t reach = read_;
    unsigned mask;
    for (const uint8_t* block = base + read_; (block = find_candidates(block, limit, watch, mask)) != limit;
         block += 32) {
        for (; mask; mask &= mask - 1) {
            size_t at = block - base + __builtin_ctz(mask);
            if (at < read_)
                continue;  // within the search just repaired
            const uint8_t* key = base + at;
            // ASCII is no key, and a letter after an ASCII letter lies in that
            // letter's word, which the word stage judges whole from its first
            // hit: a Latin word costs one stop.
            if (*key < 0x80 && at > read_ && is_ascii_letter(key[-1]))
                continue;
            size_t row = utf8_fix_at(base + read_, key, limit);
            if (row == no_row) {
                if (!is_watched(*key, watch))
                    continue;
                // Greek text has the capitals' lead in every other letter:
                // past a few, the stage's own search, which tells them from
                // the capitals, costs less than stopping at each.
                bool small_greek = watch == Watch::capitals && !is_capital_at(key, limit);
                if (small_greek && ++small_greek_seen < small_greek_limit)
                    continue;
                size_t repaired_at = written_ + (at - read_);
                if (!small_greek && words_->hit_read(repaired_at))
                    continue;
                clean_ = repaired_at;
                watch = Watch::keys;
                continue;
            }
            const Utf8Fix& fix = utf8_fixes[row];
            size_t start = at - fix.key_at;
            take_fix(start, start + fix.search_size, int(row), fix.replacement);
            reach = std::max(reach, at) + dense_stretch;
            if (reach - at >= dense_reach && move_dense_bytes(stop)) {
                reach = std::max(reach, read_ + dense_reach);
                watch = clean_ == SIZE_MAX ? watch : Watch::keys;
                block = base + read_ - 32;
                break;
            }
        }
    }
    return stop;
}

// Moves the text on from read_, right after a repair, with move_bytes;
// false when it moved nothing.
bool RepairStream::move_dense_bytes(size_t stop)
{
#if defined(STREAM_WIDEST)
    if (!widest_scans())
        return false;
    uint8_t* base = text();
    const uint8_t* in = base + read_;
    uint8_t* out = base + written_;
    // The mover tells no twins: with the word rule the stage looks for
    // them, and for the capitals, from here on.
    size_t clean = words_->twins() ? std::min(clean_, written_) : clean_;
    WordStage* stage = clean == SIZE_MAX ? words_.get() : nullptr;
    if (sink_)
        move_bytes<true>(in, out, base + stop, stage, words_.get(), base);
    else
        move_bytes<false>(in, out, base + stop, stage, nullptr, base);
    if (in == base + read_)
        return false;
    clean_ = clean;
    read_ = size_t(in - base);
    written_ = size_t(out - base);
    return true;
#else
    (void)stop;
    return false;
#endif
}

// Moves the text on from `at`, right after a repair, with move_widest_units
// where the processor has 64-byte vectors and, without the word rule or
// findings to report, move_units on from where it stops; returns where the
// scan goes on.
// Nothing waits to be moved there, and a mark there has no letter before it
// to compose with, as for the scan.
template <bool big_endian>
size_t RepairStream::move_dense(size_t at, size_t stop)
{
#if defined(STREAM_WIDE)
    if (!wide_scans())
        return at;
    uint8_t* base = text();
    const uint8_t* in = base + at;
    uint8_t* out = base + written_;
    WordStage* stage = clean_ == SIZE_MAX ? words_.get() : nullptr;
#if defined(STREAM_WIDEST)
    if (widest_scans()) {
        if (sink_)
            move_widest_units<big_endian, true>(in, out, base + stop, stage, words_.get(), base, words_->twins());
        else
            move_widest_units<big_endian, false>(in, out, base + stop, stage, nullptr, base, words_->twins());
    }
#endif
    // It tells no twins, which the word rule needs, and reports no repairs.
    if (!words_->twins() && !sink_)
        move_units<big_endian>(in, out, base + stop, stage, base);
    read_ = size_t(in - base);
    written_ = size_t(out - base);
    return read_;
#else
    (void)stop;
    return at;
#endif
}

template <bool big_endian>
size_t RepairStream::repair_utf16(size_t end, bool last)
{
    const uint8_t* base = text();
    size_t stop = read_ + (end - read_) / 2 * 2;
    if (!last && stop > read_ && starts_pair(unit_at<big_endian>(base + stop - 2)))
        stop -= 2;
    // Greek capitals, and the letters above U+00FF that may be twins, share
    // their high bytes with the key units, so the scan stops at each. With
    // the word rule it also stops at the units below U+0100 that may start
    // a twin. It tells the word stage of each hit while the stage takes
    // them; the stage searches on from where it stopped telling.
    clean_ = SIZE_MAX;
    bool twins = words_->twins(), watch = twins;
    // Dense damage hands the scan over to the movers, as dense_reach tells.
    size_t reach = read_;
    for (size_t at = read_; at < stop; at += 2) {
        // Watching is a choice made at compile time: the plain scan's loop
        // stays as short as it was.
        at = (watch ? find_key_unit<big_endian, true>(base + at, base + stop)
                    : find_key_unit<big_endian, false>(base + at, base + stop)) - base;
        if (at == stop)
            break;
        int row = utf16_fix_at<big_endian>(base + read_, base + at, base + stop);
        if (row < 0) {
            size_t repaired_at = written_ + (at - read_);
            if (clean_ == SIZE_MAX && is_told_unit<big_endian>(base + at, base + stop, twins) &&
                !words_->hit_read(repaired_at)) {
                clean_ = repaired_at;
                watch = false;
            }
            // The letters after an ASCII letter lie in its word, told of by it.
            if (is_ascii_letter(unit_at<big_endian>(base + at))) {
                while (stop - at > 2 && is_ascii_letter(unit_at<big_endian>(base + at + 2)))
                    at += 2;
            }
            // Greek text: its small letters share the key units' high byte,
            // but are none, nor told unless watched for. They and the ASCII
            // between them are passed over here rather than by a scan begun
            // afresh at each letter.
            while (!watch && stop - at > 2 && is_passed_over(unit_at<big_endian>(base + at + 2)))
                at += 2;
            continue;
        }
        uint8_t replacement[2];
        put_unit<big_endian>(repairs[row].replacement[0], replacement);
        size_t start = repairs[row].search[1] ? at - 2 : at;
        take_fix(start, at + 2, row, replacement);
        reach = std::max(reach, at) + dense_stretch;
        if (reach - at >= dense_reach) {
            at = move_dense<big_endian>(at + 2, stop) - 2;
            reach = std::max(reach, at + dense_reach);
        }
    }
    // An odd last byte is no unit; it passes through as it is.
    return last ? end : stop;
}

// Moves the bytes between the last look-alike and this one behind the
// repaired text, then writes the replacement for [start, end). A finding
// goes to the word stage with where its repair starts in the repaired text;
// the stage, which counts lines and columns over that text anyway, tells
// where it was read and passes it on once no twin can come before it.
void RepairStream::take_fix(size_t start, size_t end, int row, const uint8_t* replacement)
{
    uint8_t* base = text();
    if (sink_)
        words_->row_found(row, written_ + (start - read_));
    if (written_ != read_)
        std::memmove(base + written_, base + read_, start - read_);
    written_ += start - read_;
    std::memcpy(base + written_, replacement, replacement_bytes);
    written_ += replacement_bytes;
    read_ = end;
    changed_ = true;
}

void RepairStream::take_rest(size_t end)
{
    uint8_t* base = text();
    if (written_ != read_)
        std::memmove(base + written_, base + read_, end - read_);
    written_ += end - read_;
    read_ = end;
}

bool is_binary(const uint8_t* bytes, size_t size)
{
    BinaryWatch watch;
    watch.see(bytes, size);
    return watch.binary();
}

void BinaryWatch::see(const uint8_t* bytes, size_t size)
{
    for (size_t i = 0; started_ < sizeof start_ && i < size; ++i)
        start_[started_++] = bytes[i];
    if (size && !nul_ && !starts_utf16())
        nul_ = std::memchr(bytes, 0, size) != nullptr;
}

// A NUL among fewer than two bytes is itself the first byte, so no mark
// can still follow it.
bool BinaryWatch::binary() const { return nul_ && !starts_utf16(); }

bool BinaryWatch::starts_utf16() const
{
    return started_ == sizeof start_ &&
           ((start_[0] == 0xFF && start_[1] == 0xFE) || (start_[0] == 0xFE && start_[1] == 0xFF));
}
