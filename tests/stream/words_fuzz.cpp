// The stream's word stage, with and without the word rule, against a plain
// whole-text model of it, on any bytes cut into pieces in any way: the
// scan's repairs, then each word judged whole (its Greek capitals by the
// Greek model, its twins by the rule), then the repairs once more over the
// result (which only a twin e before U+0308 can meet). Output, findings and the changed flag must
// agree, and a second run must change nothing. Small word limits make runs
// longer than the limit, and words cut between pieces, common.
#include "letters/repairs.h"
#include "stream/stream.h"
#include "stream/words.h"
#include "tests/fuzz_input.h"
#include "tests/stream/greek_model.h"
#include "tests/stream/text_model.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace text_model;

// One character of the repaired text.
struct Piece {
    int32_t code;    // < 0: a byte not valid in the encoding, kept as read
    size_t first;    // the input tokens it comes from
    size_t last;
    int row = -1;    // the letter table's row that made it
    int32_t twin = 0, mark = 0;
    size_t word_first = 0, word_last = 0;  // with a twin: the word's tokens
};

bool is_word_piece(const Piece& piece)
{
    return piece.code >= 0 && letter_kind(char32_t(piece.code)) != LetterKind::other;
}

// The repairs the scan applies over the pieces: at each, a pair before a
// single look-alike, in the table's order; the Greek capitals are the word
// stage's.
int row_at(const std::vector<Piece>& in, size_t i)
{
    if (greek_model::is_capital(in[i].code))
        return -1;
    for (int row = 0; row < int(repair_count); ++row) {
        const char16_t* search = repairs[row].search;
        if (search[1] && in[i].code == search[0] && i + 1 < in.size() && in[i + 1].code == search[1])
            return row;
    }
    for (int row = 0; row < int(repair_count); ++row) {
        if (!repairs[row].search[1] && in[i].code == repairs[row].search[0])
            return row;
    }
    return -1;
}

std::vector<Piece> apply_rows(const std::vector<Piece>& in, bool first_pass)
{
    std::vector<Piece> out;
    for (size_t i = 0; i < in.size(); ++i) {
        Piece piece = in[i];
        int row = row_at(in, i);
        if (row >= 0) {
            bool pair = repairs[row].search[1] != 0;
            piece.code = repairs[row].replacement[0];
            if (first_pass)
                piece.row = row;
            else if (pair)
                piece.mark = in[i + 1].code;  // only a repaired twin may meet a row now
            if (pair)
                piece.last = in[++i].last;
        }
        out.push_back(piece);
    }
    return out;
}

size_t encoded_size(const Piece& piece, int encoding)
{
    if (piece.code < 0)
        return 1;
    Bytes bytes;
    put_code(bytes, uint32_t(piece.code), encoding);
    return bytes.size();
}

bool is_cyrillic(char32_t code) { return code >= 0x400 && code <= 0x52F; }

bool word_changes(const std::u32string& letters, Alphabets alphabets)
{
    bool cyrillic = false, twin = false;
    for (size_t i = 0; i < letters.size(); ++i) {
        if (is_cyrillic(letters[i]) || greek_model::is_capital(int32_t(letters[i])))
            cyrillic = true;
        else if (word_twin(letters, i, alphabets))
            twin = true;
        else
            return false;
    }
    return cyrillic && twin;
}

// The alphabets that hold every Cyrillic letter lying wholly within the
// reach before chars[start] (`at` gives the byte offsets), the Turkic ones
// only with a letter of theirs alone; every alphabet when there is no
// Cyrillic letter or none fits.
Alphabets alphabets_before(const std::vector<greek_model::Char>& chars, const std::vector<size_t>& at,
                           size_t start)
{
    size_t floor = at[start] > WordStage::context_reach ? at[start] - WordStage::context_reach : 0;
    bool cyrillic = false, turkic_letter = false;
    Alphabets around = every_alphabet;
    for (size_t i = start; i > 0 && at[i - 1] >= floor; --i) {
        char32_t code = char32_t(chars[i - 1].code);
        if (chars[i - 1].code < 0 || !is_cyrillic(code) || letter_kind(code) != LetterKind::letter)
            continue;
        cyrillic = true;
        turkic_letter = turkic_letter || alphabets_of(code) == turkic;
        around &= alphabets_of(code);
    }
    if (!turkic_letter)
        around &= ~turkic;
    return cyrillic && around ? around : Alphabets(every_alphabet);
}

// The row of a Greek capital, with the mark after it when they make one.
int capital_row(const std::vector<Piece>& pieces, size_t i, size_t end)
{
    int single = -1;
    for (int row = 0; row < int(repair_count); ++row) {
        const char16_t* search = repairs[row].search;
        if (search[0] != pieces[i].code)
            continue;
        if (search[1] && i + 1 < end && pieces[i + 1].code == search[1])
            return row;
        single = search[1] ? single : row;
    }
    return single;
}

int32_t code_or_zero(const std::vector<Piece>& pieces, size_t i)
{
    return pieces[i].code >= 0 ? pieces[i].code : 0;
}

// Each word: its Greek capitals as the Greek model judges them, and with
// `twins` the twin rule unless the word is glued to code. `pieces` start
// with the BOM, if any, as U+FEFF. A mark taken into a letter is dropped.
void apply_words(std::vector<Piece>& pieces, int encoding, size_t limit, bool twins)
{
    std::vector<greek_model::Char> chars;
    for (const Piece& piece : pieces)
        chars.push_back({piece.code, encoded_size(piece, encoding)});
    const std::vector<bool> kept = greek_model::kept_capitals(chars, limit);
    std::vector<size_t> at(chars.size() + 1, 0);
    for (size_t i = 0; i < chars.size(); ++i)
        at[i + 1] = at[i] + chars[i].size;
    std::vector<bool> dropped(pieces.size(), false);
    for (size_t start = 0; start < pieces.size();) {
        size_t end = start, bytes = 0;
        Alphabets alphabets = every_alphabet;
        bool keep = false;
        std::u32string letters;
        for (; end < pieces.size() && is_word_piece(pieces[end]); ++end) {
            bytes += chars[end].size;
            char32_t code = char32_t(pieces[end].code);
            keep = keep || kept[end] || is_greek_only(code);
            if (is_cyrillic(code))
                alphabets &= alphabets_of(code);
            if (letter_kind(code) == LetterKind::letter)
                letters += code;
        }
        if (end == start || bytes > limit || keep) {
            start = end > start ? end : start + 1;
            continue;
        }
        char32_t before[signs_before] = {};
        for (size_t i = 0; i < signs_before && i < start && pieces[start - 1 - i].code >= 0; ++i)
            before[i] = char32_t(pieces[start - 1 - i].code);
        int32_t after = end < pieces.size() ? code_or_zero(pieces, end) : 0;
        // Twins that read by the language read as the text before points.
        if (std::any_of(letters.begin(), letters.end(), reads_by_language)) {
            Alphabets around = alphabets & alphabets_before(chars, at, start);
            alphabets = around ? around : alphabets;
        }
        bool by_twins = twins && word_changes(letters, alphabets) &&
                        !is_code_word(before, char32_t(after), letters);
        for (size_t i = start, letter = 0; i < end; ++i) {
            bool is_letter = letter_kind(char32_t(pieces[i].code)) == LetterKind::letter;
            letter += is_letter;
            if (greek_model::is_capital(pieces[i].code)) {
                int row = capital_row(pieces, i, end);
                pieces[i].code = repairs[row].replacement[0];
                pieces[i].row = row;
                if (repairs[row].search[1])
                    pieces[i].last = pieces[i + 1].last, dropped[++i] = true;
            } else if (char32_t twin = by_twins && is_letter && !is_cyrillic(char32_t(pieces[i].code))
                                           ? word_twin(letters, letter - 1, alphabets)
                                           : 0) {
                pieces[i].twin = pieces[i].code;
                pieces[i].code = int32_t(twin);
                pieces[i].word_first = pieces[start].first;
                pieces[i].word_last = pieces[end - 1].last;
            }
        }
        start = end;
    }
    std::vector<Piece> left;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (!dropped[i])
            left.push_back(pieces[i]);
    }
    pieces = left;
}

// A finding of either kind: row >= 0 for the letter table's, else a twin's.
struct Found {
    TextPosition at;
    int row;
    char32_t twin, mark, letter;
    std::string word;
    bool operator==(const Found& o) const
    {
        return same_position(at, o.at) && row == o.row && twin == o.twin &&
               mark == o.mark && letter == o.letter && word == o.word;
    }
};

struct Expected {
    Bytes output;
    std::vector<Found> findings;
};

Expected expected(const Bytes& text, size_t limit, bool twins)
{
    const Text t = tokenize(text);
    const std::vector<TextPosition> positions = token_positions(t);
    std::vector<Piece> pieces;
    for (size_t i = 0; i < t.tokens.size(); ++i)
        pieces.push_back({t.tokens[i].code, i, i + 1});
    pieces = apply_rows(pieces, true);
    if (t.bom)
        pieces.insert(pieces.begin(), Piece{0xFEFF, 0, 0});
    apply_words(pieces, t.encoding, limit, twins);
    if (t.bom)
        pieces.erase(pieces.begin());
    pieces = apply_rows(pieces, false);

    Expected e{text.substr(0, t.bom), {}};
    for (const Piece& piece : pieces) {
        const Token& token = t.tokens[piece.first];
        if (piece.code < 0)
            e.output += text.substr(token.at, token.size);
        else
            put_code(e.output, uint32_t(piece.code), t.encoding);
        Found found{positions[piece.first], piece.row, 0, 0, 0, ""};
        if (piece.twin) {
            found.twin = char32_t(piece.twin), found.mark = char32_t(piece.mark);
            found.letter = char32_t(piece.code);
            for (size_t i = piece.word_first; i < piece.word_last; ++i)
                put_code(found.word, uint32_t(t.tokens[i].code), 0);
        }
        if (piece.row >= 0 || piece.twin)
            e.findings.push_back(found);
    }
    return e;
}

class Collector : public FindingSink {
public:
    void found(const Finding& f) override
    {
        findings.push_back({f.at, f.row, 0, 0, 0, ""});
    }
    void found_twin(const TwinFinding& f) override
    {
        findings.push_back(
            {f.at, -1, f.twin, f.mark, f.letter, std::string(f.word, f.word_size)});
    }
    std::vector<Found> findings;
};

// Pieces of up to `largest` bytes, or with `whole` full pieces of the real
// size, the last one marked as such, as the command line feeds a file.
Bytes stream_through(const Bytes& text, std::mt19937& cuts, size_t largest, size_t limit,
                     bool twins, FindingSink* sink, bool& changed, bool whole = false)
{
    RepairStream stream(sink, twins, limit);
    Bytes out;
    size_t at = 0;
    bool last = false;
    while (!last) {
        size_t size = std::min<size_t>(whole ? RepairStream::piece_size : cuts() % (largest + 1),
                                       text.size() - at);
        std::memcpy(stream.input_area(), text.data() + at, size);
        at += size;
        last = at == text.size() && (whole || size == 0 || cuts() % 2);
        ByteSpan final = stream.repair(size, last);
        out.append(reinterpret_cast<const char*>(final.data), final.size);
    }
    changed = stream.changed();
    return out;
}

// Letters, twins, other scripts, marks, separators and broken bytes; the
// first is what make_text glues to its clean prose.
const char* const FRAGMENTS[] = {
    "a", "\xD0\xBB", "\xD0\xBE", "\xD0\xA8", "\xD1\x8B", "\xD0\xB8", "\xD0\xB5", "\xD0\x98",
    "C", "O", "P", "X", "e", "o", "p", "y", "\xCE\xBF", "e\xCC\x88", "i", "W", "h",
    "3", "-", " ", "'", "\n", "\r", "\xCC\x81", "\xCC\x86", "\xCC\x88", "\xD2\x83", "\xD2\x82",
    "\xCE\x91", "\xCE\x9F", "\xE1\xB4\x8F", "\xCE\xB1", "\xCE\x87", "\xF0\x90\x90\x80",
    "\xF0\x9F\x98\x80", "\xCE", "\xD0", "\xC0\x80", "\xED\xA0\x80", "\x00",
    "j", "s", "I", "Y", "\xC3\xAF", "\xC9\x99", "\xC5\xAD", "\xD1\x96", "\xD1\x98",
    "\xD3\x99", "\xD1\x8A", "\xD1\x94", "\xD3\xA9", "\xD0\xB3", "\xCC\x80", "\xCC\x8B",
    "\t", "%", "0", "[", "]", "_", "\xCE\x9B", "\xCE\xA3", "\xCE\xBB", "\xD0\xB0\xD0\xBB\xD1\x8C\xD1\x84\xD0\xB0",
    "HTTP", "\xD0\x97\xD0\xB0", "XX\xD0\xB2", "words of a Latin quote, ",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    static const size_t LARGEST[] = {1, 2, 3, 5, 17, RepairStream::piece_size};
    static const size_t LIMITS[] = {2, 5, 12, 40, RepairStream::longest_word};
    std::mt19937 cuts(in.below(65536));
    // One byte picks the cuts, the word limit, the rule and the vector
    // width, so that even the short inputs a fixed-seed run tries leave
    // bytes for the text.
    uint32_t choice = in.byte();
    size_t largest = LARGEST[choice % 6];
    size_t limit = LIMITS[choice / 6 % 5];
    bool twins = choice / 30 % 2 == 0;
    allow_vectors(VectorWidth(choice / 60 % 3));
    const Bytes text = make_text(in, FRAGMENTS);

    const Expected e = expected(text, limit, twins);
    Collector collector, whole_collector;
    bool changed = false;
    if (stream_through(text, cuts, largest, limit, twins, &collector, changed) != e.output ||
        changed != (e.output != text) || !(collector.findings == e.findings))
        std::abort();
    // Fed as the command line feeds it, the text lies in one piece of the
    // real size, where the scan tells the word stage how far it is clean.
    if (stream_through(text, cuts, largest, limit, twins, &whole_collector, changed, true) != e.output ||
        !(whole_collector.findings == e.findings))
        std::abort();
    if (stream_through(e.output, cuts, largest, limit, twins, nullptr, changed) != e.output || changed)
        std::abort();  // a second run changed something
    return 0;
}
