// The streaming repair against the window program's own pass, on any bytes
// cut into pieces in any way: the output equals converting the valid text to
// UTF-16, running the real pass over all but the Greek capitals that the
// Greek model keeps, composing what the pass leaves decomposed and
// converting back, with invalid bytes kept where they were; the findings
// equal a plain whole-text scan; a second run changes nothing; and two
// streams that share the text at a line end repair it as one does.
#include "letters/repairs.h"
#include "stream/stream.h"
#include "tests/app/letters_model.h"
#include "tests/fuzz_input.h"
#include "tests/stream/greek_model.h"
#include "tests/stream/text_model.h"

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace text_model;

// Units back to code points: a surrogate pair is one.
void put_units(Bytes& out, const std::u16string& units, size_t from, size_t to, int encoding)
{
    for (size_t i = from; i < to; ++i) {
        uint32_t code = units[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < to && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF)
            code = 0x10000 + ((code - 0xD800) << 10) + (units[++i] - 0xDC00);
        put_code(out, code, encoding);
    }
}

// U+0001 stands for every stretch the pass must not see: invalid bytes and
// the units a zero-terminated string cannot hold. No search holds it, so no
// look-alike reaches across it, and the pass never removes it.
constexpr char16_t BREAK = u'\x1';

bool passes_through(const Token& token) { return token.code <= int32_t(BREAK); }

// The pair row whose search starts at token i, or -1.
int row_of_pair(const std::vector<Token>& tokens, size_t i)
{
    for (size_t row = 0; row < repair_count; ++row) {
        const char16_t* search = repairs[row].search;
        if (search[1] && tokens[i].code == search[0] && i + 1 < tokens.size() &&
            tokens[i + 1].code == search[1])
            return int(row);
    }
    return -1;
}

// Each Cyrillic letter and mark that Unicode composes, left to right; no
// composed letter is the base of another pair.
std::u16string composed(const std::u16string& text)
{
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        for (const LetterFix& fix : letter_compositions) {
            if (i + 1 < text.size() && text[i] == fix.search[0] && text[i + 1] == fix.search[1]) {
                unit = fix.replacement[0];
                ++i;
                break;
            }
        }
        out += unit;
    }
    return out;
}

// The Greek capitals that stay, by the Greek model over the text as the
// word stage reads it: the scan's repairs made, Greek capitals aside.
std::vector<bool> kept_capitals(const Text& t)
{
    std::vector<greek_model::Char> chars;
    std::vector<size_t> token_of;
    if (t.bom)
        chars.push_back({0xFEFF, t.bom}), token_of.push_back(SIZE_MAX);
    const std::vector<Token>& tokens = t.tokens;
    for (size_t i = 0; i < tokens.size(); ++i) {
        greek_model::Char c{tokens[i].code, tokens[i].size};
        token_of.push_back(i);
        for (size_t row = 0; row < repair_count && !greek_model::is_capital(c.code); ++row) {
            const char16_t* search = repairs[row].search;
            bool whole = tokens[i].code == search[0] &&
                         (!search[1] || (i + 1 < tokens.size() && tokens[i + 1].code == search[1]));
            bool pair_first = search[1] || row_of_pair(tokens, i) < 0;
            if (!whole || !pair_first)
                continue;
            Bytes replacement;
            put_code(replacement, repairs[row].replacement[0], t.encoding);
            c = {repairs[row].replacement[0], replacement.size()};
            i += search[1] ? 1 : 0;
            break;
        }
        chars.push_back(c);
    }
    const std::vector<bool> kept = greek_model::kept_capitals(chars, RepairStream::longest_word);
    std::vector<bool> by_token(tokens.size(), false);
    for (size_t k = 0; k < chars.size(); ++k) {
        if (kept[k])
            by_token[token_of[k]] = true;
    }
    return by_token;
}

// A kept capital goes through the window program's pass as a private-use
// character that no row holds.
constexpr char16_t KEPT = u'\xE000';

Bytes expected_output(const Bytes& text, const Text& t, const std::vector<bool>& kept)
{
    std::u16string joined;
    for (size_t i = 0; i < t.tokens.size(); ++i) {
        const Token& token = t.tokens[i];
        if (kept[i]) {
            joined += char16_t(KEPT + token.code - 0x390);
        } else if (passes_through(token)) {
            joined += BREAK;
        } else if (token.code >= 0x10000) {
            joined += char16_t(0xD800 + ((token.code - 0x10000) >> 10));
            joined += char16_t(0xDC00 + ((token.code - 0x10000) & 0x3FF));
        } else {
            joined += char16_t(token.code);
        }
    }
    std::u16string repaired = composed(run_pass(joined));
    for (char16_t& unit : repaired) {
        if (unit >= KEPT && unit < KEPT + 0x20)
            unit = char16_t(unit - KEPT + 0x390);
    }
    Bytes out = text.substr(0, t.bom);
    size_t next = 0;
    for (const Token& token : t.tokens) {
        if (passes_through(token)) {
            size_t stop = repaired.find(BREAK, next);
            put_units(out, repaired, next, stop, t.encoding);
            out += text.substr(token.at, token.size);
            next = stop + 1;
        }
    }
    put_units(out, repaired, next, repaired.size(), t.encoding);
    return out;
}

// Adjacent surrogates make one code point above; the pass never splits them.
std::vector<Finding> expected_findings(const Text& t, const std::vector<bool>& kept)
{
    std::vector<Finding> findings;
    const std::vector<Token>& tokens = t.tokens;
    const std::vector<TextPosition> positions = token_positions(t);
    for (size_t i = 0; i < tokens.size(); ++i) {
        // A pair before a single look-alike: the pair is taken whole.
        int found = -1;
        if (kept[i])
            continue;
        for (int row = 0; row < int(repair_count) && found < 0; ++row) {
            const char16_t* search = repairs[row].search;
            if (search[1] && tokens[i].code == search[0] && i + 1 < tokens.size() &&
                tokens[i + 1].code == search[1])
                found = row;
        }
        for (int row = 0; row < int(repair_count) && found < 0; ++row) {
            if (!repairs[row].search[1] && tokens[i].code == repairs[row].search[0])
                found = row;
        }
        if (found >= 0) {
            findings.push_back({positions[i], found});
            if (repairs[found].search[1])
                ++i;
        }
    }
    return findings;
}

class Collector : public FindingSink {
public:
    void found(const Finding& finding) override { findings.push_back(finding); }
    void found_twin(const TwinFinding&) override { std::abort(); }  // only with the word rule
    std::vector<Finding> findings;
};

// text[from, to) in pieces of up to `largest` bytes, or with `whole` full
// pieces of the real size, the last one marked as such when `ends`, as the
// command line feeds a file.
Bytes feed(RepairStream& stream, const Bytes& text, size_t from, size_t to, std::mt19937& cuts,
           size_t largest, bool whole, bool ends)
{
    Bytes out;
    for (size_t at = from; at < to;) {
        size_t size = std::min<size_t>(whole ? RepairStream::piece_size : 1 + cuts() % largest, to - at);
        std::memcpy(stream.input_area(), text.data() + at, size);
        at += size;
        bool last = ends && at == to && (whole || cuts() % 2);
        ByteSpan final = stream.repair(size, last);
        out.append(reinterpret_cast<const char*>(final.data), final.size);
        if (last)
            return out;
    }
    if (ends) {
        ByteSpan final = stream.repair(0, true);
        out.append(reinterpret_cast<const char*>(final.data), final.size);
    }
    return out;
}

Bytes stream_through(const Bytes& text, std::mt19937& cuts, size_t largest, FindingSink* sink,
                     bool& changed, bool whole = false)
{
    RepairStream stream(sink);
    Bytes out = feed(stream, text, 0, text.size(), cuts, largest, whole, true);
    changed = stream.changed();
    return out;
}

// Cut after a line end, as glyphmend-cli cuts a file between two threads,
// the text before it through one stream, never told that it ended, and the
// rest through another that takes the text up there repair it as one
// stream does. The line end goes in before a token of the fuzzer's choice.
bool cut_at_line_as_one(const Bytes& text, const Text& t, std::mt19937& cuts, size_t largest)
{
    const Bytes line_end = encoded("\n", t.encoding);
    size_t cut = t.tokens.empty() ? t.bom : t.tokens[cuts() % t.tokens.size()].at;
    const Bytes lined = text.substr(0, cut) + line_end + text.substr(cut);
    cut += line_end.size();
    RepairStream before, after;
    after.continue_text(TextEncoding(t.encoding));
    Bytes two = feed(before, lined, 0, cut, cuts, largest, false, false);
    two += feed(after, lined, cut, lined.size(), cuts, largest, false, true);
    bool changed;
    return two == stream_through(lined, cuts, largest, nullptr, changed);
}

// Pieces of text that make look-alikes, near misses and broken bytes likely;
// the first is what make_text glues to its clean prose.
const char* const FRAGMENTS[] = {
    "\xCE\x91", "\xD0\xB8", "\xCC\x86", "\xD0\xB5", "\xCC\x88", "\xD0\x98", "\xD0\x95",
    "\xD0\xB9", "\xCE\x92", "\xCE\x93", "\xCE\x95", "\xCE\x97", "\xCE\x9A", "\xCE\x9B",
    "\xCE\x9C", "\xCE\x9F", "\xCE\xA0", "\xCE\xA1", "\xCE\xA4", "\xCE\xA7", "\xCE\x94",
    "\xCE\xBF", "\xC4\xB8", "\xE1\xB4\x8F", "\xCA\x99", "\xD0\xBA", "\xF0\x9F\x98\x80",
    "\t", " ", "\xCE\xA3", "\xCE\xBB", "\xD0\xB0\xD0\xBB\xD1\x8C\xD1\x84\xD0\xB0",
    "\xCC\x81", "\xCC\x80", "\xD0\x93", "\xD1\x96", "\xD1\x83", "\xCC\x8F", "\xD3\x99",
    "\n", "\r", "a", "\xCE", "\xCC", "\xD0", "\xE1\xB4", "\xC0\x80", "\xED\xA0\x80", "\x00",
    "\xE2\x80\x94",
};

bool same_findings(const std::vector<Finding>& a, const std::vector<Finding>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!same_position(a[i].at, b[i].at) || a[i].row != b[i].row)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool started = (string_area_init(), true);
    (void)started;
    FuzzInput in(data, size);
    static const size_t LARGEST[] = {1, 2, 3, 5, 17, RepairStream::piece_size};
    std::mt19937 cuts(in.below(65536));
    size_t largest = LARGEST[in.below(6)];
    allow_vectors(VectorWidth(cuts() % 3));
    const Bytes text = make_text(in, FRAGMENTS);

    const Text tokens = tokenize(text);
    const std::vector<bool> kept = kept_capitals(tokens);
    const Bytes expected = expected_output(text, tokens, kept);
    const std::vector<Finding> findings = expected_findings(tokens, kept);
    Collector collector, whole_collector;
    bool changed = false;
    if (stream_through(text, cuts, largest, &collector, changed) != expected ||
        changed != (expected != text) || !same_findings(collector.findings, findings))
        std::abort();
    // Fed as the command line feeds it, the text lies in one piece of the
    // real size, where the scan tells the word stage how far it is clean.
    if (stream_through(text, cuts, largest, &whole_collector, changed, true) != expected ||
        !same_findings(whole_collector.findings, findings))
        std::abort();
    if (stream_through(expected, cuts, largest, nullptr, changed) != expected || changed)
        std::abort();  // a second run changed something
    if (!cut_at_line_as_one(text, tokens, cuts, largest))
        std::abort();
    return 0;
}
