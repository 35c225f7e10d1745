// The word rule, a piece at a time. Twins are rare in Cyrillic text, so the
// stage scans for the bytes that may start one (any ASCII letter, or a lead
// of Latin letters beyond ASCII or of Greek) and only around such a byte decodes the
// word, back to its start and on to its end, to judge it. All other text is
// handed on where it lies; it is copied only once a piece has a word to
// change, since in UTF-8 a twin's Cyrillic letter is longer than the twin.
#include "stream/words.h"

#include "stream/fixes.h"
#include "letters/twins.h"
#include "stream/letter_kinds_table.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

bool is_ascii_letter(uint32_t code) { return (code | 0x20) - 'a' < 26; }

void append_utf8(std::string& text, char32_t code)
{
    if (code < 0x80) {
        text += char(code);
    } else if (code < 0x800) {
        text += char(0xC0 | code >> 6);
        text += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += char(0xE0 | code >> 12);
        text += char(0x80 | (code >> 6 & 0x3F));
        text += char(0x80 | (code & 0x3F));
    } else {
        text += char(0xF0 | code >> 18);
        text += char(0x80 | (code >> 12 & 0x3F));
        text += char(0x80 | (code >> 6 & 0x3F));
        text += char(0x80 | (code & 0x3F));
    }
}

// Each codec reads characters as the letter table's pass and the position
// tracker do: a valid character, or else one byte (UTF-8) or unit (UTF-16)
// that is no character and so ends any word.
struct Utf8 {
    static constexpr size_t unit = 1;

    // The size of the valid character at p that ends by `end`, or 0.
    static size_t decode(const uint8_t* p, const uint8_t* end, char32_t& code)
    {
        if (*p < 0x80) {
            code = *p;
            return 1;
        }
        LeadRule rule = utf8_lead_rule(*p);
        if (!rule.needed || size_t(end - p) <= rule.needed || p[1] < rule.low || p[1] > rule.high)
            return 0;
        uint32_t value = *p & (0x3F >> rule.needed);
        for (size_t i = 1; i <= rule.needed; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return 0;
            value = value << 6 | (p[i] & 0x3F);
        }
        code = value;
        return rule.needed + 1;
    }

    // The size of the valid character that ends at `at` and starts at or
    // after `begin`, or 0. Only asked at a character's start.
    static size_t decode_before(const uint8_t* begin, const uint8_t* at, char32_t& code)
    {
        const uint8_t* p = at;
        do {
            if (p == begin)
                return 0;
            --p;
        } while ((*p & 0xC0) == 0x80 && at - p < 4);
        size_t size = decode(p, at, code);
        return size == size_t(at - p) ? size : 0;
    }

    // How many bytes at the end begin a character that more bytes may
    // complete.
    static size_t cut_tail(const uint8_t* begin, const uint8_t* end)
    {
        for (size_t size = 1; size <= 3 && size <= size_t(end - begin); ++size) {
            const uint8_t* p = end - size;
            if ((*p & 0xC0) == 0x80)
                continue;
            LeadRule rule = utf8_lead_rule(*p);
            bool fits = size < 2 || (p[1] >= rule.low && p[1] <= rule.high);
            return rule.needed >= size && fits ? size : 0;
        }
        return 0;
    }

    // The first byte in [p, end) that may start a twin: an ASCII letter, a
    // lead of U+00C0 to U+027F (Latin letters with marks, schwa, barred o)
    // or 0xCE (Greek), or end.
    static const uint8_t* find_hit(const uint8_t* p, const uint8_t* end)
    {
#if defined(__SSE2__)
        // (byte | 0x20) + 0x1F lands below 0x9A, as a signed byte, exactly
        // for the ASCII letters.
        const __m128i fold = _mm_set1_epi8(0x20);
        const __m128i shift = _mm_set1_epi8(0x80 - 'a');
        const __m128i bound = _mm_set1_epi8(char(0x80 + 26));
        const __m128i latin_low = _mm_set1_epi8(char(0xC3));
        const __m128i latin_span = _mm_set1_epi8(0xC9 - 0xC3);
        const __m128i greek = _mm_set1_epi8(char(0xCE));
        for (; end - p >= 16; p += 16) {
            __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            __m128i letters = _mm_cmplt_epi8(_mm_add_epi8(_mm_or_si128(block, fold), shift), bound);
            __m128i shifted = _mm_sub_epi8(block, latin_low);
            __m128i latin = _mm_cmpeq_epi8(_mm_min_epu8(shifted, latin_span), shifted);
            __m128i hits = _mm_or_si128(_mm_or_si128(letters, latin), _mm_cmpeq_epi8(block, greek));
            if (int mask = _mm_movemask_epi8(hits))
                return p + __builtin_ctz(static_cast<unsigned>(mask));
        }
#endif
        for (; p < end; ++p) {
            if (is_ascii_letter(*p) || (*p >= 0xC3 && *p <= 0xC9) || *p == 0xCE)
                return p;
        }
        return end;
    }

    // Cyrillic letters take two bytes.
    static size_t put(char32_t code, uint8_t* out)
    {
        out[0] = static_cast<uint8_t>(0xC0 | code >> 6);
        out[1] = static_cast<uint8_t>(0x80 | (code & 0x3F));
        return 2;
    }
};

template <bool big_endian>
struct Utf16 {
    static constexpr size_t unit = 2;

    static char32_t unit_at(const uint8_t* p)
    {
        return big_endian ? char32_t(p[0] << 8 | p[1]) : char32_t(p[1] << 8 | p[0]);
    }
    static bool is_high(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
    static bool is_low(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

    static size_t decode(const uint8_t* p, const uint8_t* end, char32_t& code)
    {
        if (end - p < 2)
            return 0;
        char32_t first = unit_at(p);
        if (!is_high(first) && !is_low(first)) {
            code = first;
            return 2;
        }
        if (is_low(first) || end - p < 4 || !is_low(unit_at(p + 2)))
            return 0;
        code = 0x10000 + ((first - 0xD800) << 10) + (unit_at(p + 2) - 0xDC00);
        return 4;
    }

    static size_t decode_before(const uint8_t* begin, const uint8_t* at, char32_t& code)
    {
        if (at - begin < 2)
            return 0;
        if (!is_low(unit_at(at - 2)))
            return decode(at - 2, at, code);
        return at - begin >= 4 ? (decode(at - 4, at, code) == 4 ? 4 : 0) : 0;
    }

    // An odd byte, and a high surrogate that waits for its partner.
    static size_t cut_tail(const uint8_t* begin, const uint8_t* end)
    {
        size_t odd = size_t(end - begin) % 2;
        bool high = size_t(end - begin) >= odd + 2 && is_high(unit_at(end - odd - 2));
        return odd + (high ? 2 : 0);
    }

    static const uint8_t* find_hit(const uint8_t* p, const uint8_t* end)
    {
        for (; end - p >= 2; p += 2) {
            char32_t unit = unit_at(p);
            if (unit < 0x80 ? is_ascii_letter(unit) : (unit >= 0xC0 && unit < 0x280) || unit == 0x03BF)
                return p;
        }
        return end;
    }

    static size_t put(char32_t code, uint8_t* out)
    {
        out[big_endian ? 0 : 1] = static_cast<uint8_t>(code >> 8);
        out[big_endian ? 1 : 0] = static_cast<uint8_t>(code);
        return 2;
    }
};

bool is_word_character(char32_t code) { return letter_kind(code) != LetterKind::other; }

// Where the run of letters and marks from `at` ends, before `end`.
template <class Codec>
size_t letters_end(const uint8_t* text, size_t at, size_t end)
{
    char32_t code = 0;
    for (size_t size; at < end && (size = Codec::decode(text + at, text + end, code)) &&
                      is_word_character(code);
         at += size) {
    }
    return at;
}

bool is_cyrillic(char32_t code) { return code >= 0x0400 && code <= 0x052F; }

// The alphabets that every Cyrillic letter of the word belongs to.
template <class Codec>
Alphabets word_alphabets(const uint8_t* p, const uint8_t* end)
{
    Alphabets alphabets = every_alphabet;
    char32_t code = 0;
    for (size_t size; p < end; p += size) {
        size = Codec::decode(p, end, code);
        if (is_cyrillic(code))
            alphabets &= alphabets_of(code);
    }
    return alphabets;
}

// A word changes when it holds a Cyrillic letter, a twin, and no other
// letter; marks do not count.
template <class Codec>
bool word_changes(const uint8_t* p, const uint8_t* end, Alphabets alphabets)
{
    bool cyrillic = false, twin = false;
    char32_t code = 0;
    for (size_t size; p < end; p += size) {
        size = Codec::decode(p, end, code);
        if (letter_kind(code) != LetterKind::letter)
            continue;
        if (is_cyrillic(code))
            cyrillic = true;
        else if (cyrillic_twin(code, alphabets))
            twin = true;
        else
            return false;
    }
    return cyrillic && twin;
}

}  // namespace

LetterKind letter_kind(char32_t code)
{
    if (code < 0x80)
        return is_ascii_letter(code) ? LetterKind::letter : LetterKind::other;
    const uint32_t* range = std::upper_bound(std::begin(letter_kind_ranges),
                                             std::end(letter_kind_ranges), uint32_t(code) << 2 | 3);
    return static_cast<LetterKind>(range[-1] & 3);
}

char32_t cyrillic_twin(char32_t code, Alphabets alphabets)
{
    const Twin* fitting = nullptr;
    for (const Twin& twin : twins) {
        if (twin.twin != code || !(twin.alphabets & alphabets))
            continue;
        if ((twin.alphabets & alphabets) == alphabets)
            return twin.letter;
        fitting = fitting ? fitting : &twin;
    }
    return fitting ? fitting->letter : 0;
}

WordStage::WordStage(FindingSink* sink, size_t word_limit, size_t largest_piece)
    : sink_(sink),
      word_limit_(word_limit),
      out_(new uint8_t[2 * (most_carried(word_limit) + largest_piece)])
{
}

void WordStage::start(TextEncoding encoding, size_t bom)
{
    encoding_ = encoding;
    bom_ = bom;
    if (sink_)
        tracker_.reset(new PositionTracker(encoding, bom));
}

void WordStage::row_found(const Finding& finding, size_t at)
{
    queued_.push_back({finding, handed_ + at});
}

void WordStage::move_carry(uint8_t* piece)
{
    if (carried_ && carry_ != piece - carried_)
        std::memmove(piece - carried_, carry_, carried_);
    carry_ = piece - carried_;
}

ByteSpan WordStage::take(uint8_t* piece, size_t size, bool last)
{
    uint8_t* text = piece - carried_;
    size_t length = carried_ + size;
    text_offset_ = handed_ - carried_;
    handed_ += size;
    size_t settled;
    switch (encoding_) {
    case TextEncoding::utf8:
        settled = run<Utf8>(text, length, last);
        break;
    case TextEncoding::utf16le:
        settled = run<Utf16<false>>(text, length, last);
        break;
    default:
        settled = run<Utf16<true>>(text, length, last);
        break;
    }
    if (sink_) {
        pass_findings_before(last ? UINT64_MAX : text_offset_ + settled);
        track_to(text, text_offset_ + settled);
    }
    carry_ = text + settled;
    carried_ = length - settled;
    if (!rewriting_)
        return {text, settled};
    copy_out(text, settled);
    rewriting_ = false;
    return {out_.get(), out_size_};
}

// Repairs the words that end in this piece and returns where the bytes that
// wait for the next piece start: a word that may go on, or a character cut
// short.
template <class Codec>
size_t WordStage::run(const uint8_t* text, size_t size, bool last)
{
    size_t cut = last ? size : size - Codec::cut_tail(text, text + size);
    size_t from = 0;
    if (in_long_run_) {
        from = letters_end<Codec>(text, 0, cut);
        if (from == cut && !last)
            return carried_word_ = 0, cut;
        in_long_run_ = false;
    }
    size_t settled = cut;
    if (!last) {
        size_t start = trailing_run_start<Codec>(text, from, cut);
        if (cut - start > word_limit_)
            in_long_run_ = true;
        else
            settled = start;
    }
    carried_word_ = cut - settled;
    repair_words<Codec>(text, from, settled);
    return settled;
}

// Where the run of letters and marks that ends at `cut` starts. The word
// carried from the last piece is known to be letters, so it is walked on
// from rather than back over: a long word arriving a byte at a time costs
// no more than once over.
template <class Codec>
size_t WordStage::trailing_run_start(const uint8_t* text, size_t from, size_t cut) const
{
    if (carried_word_ && letters_end<Codec>(text, carried_word_, cut) == cut)
        return 0;
    return word_start<Codec>(text, from, cut);
}

// Where the run of letters and marks that ends at `at` starts, no earlier
// than `floor`; once it is longer than the word limit, wherever the walk
// back stopped.
template <class Codec>
size_t WordStage::word_start(const uint8_t* text, size_t floor, size_t at) const
{
    size_t start = at;
    char32_t code = 0;
    while (at - start <= word_limit_) {
        size_t size = Codec::decode_before(text + floor, text + start, code);
        if (!size || !is_word_character(code))
            break;
        start -= size;
    }
    return start;
}

// Judges each word in [from, settled) that has a byte a twin may start with,
// and rewrites those that change; words without one are never decoded.
template <class Codec>
void WordStage::repair_words(const uint8_t* text, size_t from, size_t settled)
{
    for (size_t at = from; at < settled;) {
        size_t hit = Codec::find_hit(text + at, text + settled) - text;
        if (hit >= settled)
            return;
        size_t end = letters_end<Codec>(text, hit, settled);
        if (end == hit) {
            at = hit + Codec::unit;
            continue;
        }
        size_t start = word_start<Codec>(text, from, hit);
        if (end - start <= word_limit_) {
            Alphabets alphabets = word_alphabets<Codec>(text + start, text + end);
            if (word_changes<Codec>(text + start, text + end, alphabets))
                rewrite_word<Codec>(text, start, end, alphabets);
        }
        at = end;
    }
}

// A twin's Cyrillic letter with the mark after it may make a search of the
// letter table (e + U+0308 becomes е + U+0308, which is ё): then the row's
// letter is written, as a second run would have it, so a run over repaired
// text changes nothing.
template <class Codec>
void WordStage::rewrite_word(const uint8_t* text, size_t start, size_t end, Alphabets alphabets)
{
    const std::string word = sink_ ? word_as_read<Codec>(text, start, end) : std::string();
    copy_out(text, start);
    char32_t code = 0, next = 0;
    for (size_t at = start, size; at < end; at += size) {
        size = Codec::decode(text + at, text + end, code);
        char32_t letter = cyrillic_twin(code, alphabets);
        if (!letter) {
            std::memcpy(out_.get() + out_size_, text + at, size);
            out_size_ += size;
            continue;
        }
        size_t next_size = at + size < end ? Codec::decode(text + at + size, text + end, next) : 0;
        int row = next_size ? pair_row(letter, next) : -1;
        TwinRepair repair{code, 0, letter};
        if (row >= 0) {
            repair = {code, next, repairs[row].replacement[0]};
            size += next_size;
        }
        if (sink_)
            report_twin(text, at, repair, word);
        out_size_ += Codec::put(repair.letter, out_.get() + out_size_);
    }
    copied_ = end;
    changed_ = true;
}

// The word in UTF-8 as it was read: where the letter table's pass repaired
// a letter in it, the letters it replaced.
template <class Codec>
std::string WordStage::word_as_read(const uint8_t* text, size_t start, size_t end)
{
    std::string word;
    auto queued = queued_.begin();
    char32_t code = 0;
    for (size_t at = start, size; at < end; at += size) {
        size = Codec::decode(text + at, text + end, code);
        while (queued != queued_.end() && queued->offset < text_offset_ + at)
            ++queued;
        if (queued == queued_.end() || queued->offset != text_offset_ + at) {
            append_utf8(word, code);
            continue;
        }
        for (const char16_t* unit = repairs[queued->finding.row].search; *unit; ++unit)
            append_utf8(word, *unit);
    }
    return word;
}

// The letter table's findings before the twin are reported first; their
// repairs shift its position back to where it was read.
void WordStage::report_twin(const uint8_t* text, size_t at, const TwinRepair& repair,
                            const std::string& word)
{
    uint64_t offset = text_offset_ + at;
    pass_findings_before(offset);
    track_to(text, offset);
    TextPosition position = tracker_->next_position();
    if (shrunk_.line == position.line) {
        position.column += shrunk_.column;
        position.utf16_column += shrunk_.utf16_column;
        position.byte_column += shrunk_.byte_column;
    }
    position.byte_offset += shrunk_.byte_offset;
    sink_->found_twin(
        {position, repair.twin, repair.mark, repair.letter, word.data(), word.size()});
}

void WordStage::pass_findings_before(uint64_t offset)
{
    for (; !queued_.empty() && queued_.front().offset < offset; queued_.pop_front()) {
        count_shrink(queued_.front().finding);
        sink_->found(queued_.front().finding);
    }
}

// A two-unit search becomes one unit; in UTF-8 a replacement may also take
// fewer bytes than a one-unit search (U+1D0F is three, U+043E two).
void WordStage::count_shrink(const Finding& finding)
{
    if (finding.at.line != shrunk_.line)
        shrunk_ = {finding.at.line, 0, 0, 0, shrunk_.byte_offset};
    uint64_t units = units_in(repairs[finding.row].search) - 1;
    const Utf8Fix& fix = utf8_fixes[finding.row];
    uint64_t bytes = encoding_ == TextEncoding::utf8 ? fix.search_size - fix.replacement_size
                                                     : 2 * units;
    shrunk_.column += units;
    shrunk_.utf16_column += units;
    shrunk_.byte_column += bytes;
    shrunk_.byte_offset += bytes;
}

// Counts the text up to `offset` into the position; the BOM never counts.
void WordStage::track_to(const uint8_t* text, uint64_t offset)
{
    uint64_t from = std::max<uint64_t>(tracked_, bom_);
    if (offset > from)
        tracker_->advance(text + (from - text_offset_), offset - from);
    tracked_ = std::max(tracked_, offset);
}

// Moves the text up to `end` into the rewritten text, behind what is there.
void WordStage::copy_out(const uint8_t* text, size_t end)
{
    if (!rewriting_) {
        rewriting_ = true;
        copied_ = 0;
        out_size_ = 0;
    }
    std::memcpy(out_.get() + out_size_, text + copied_, end - copied_);
    out_size_ += end - copied_;
    copied_ = end;
}
