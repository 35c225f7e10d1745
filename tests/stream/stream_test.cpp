// The stream's contract in named cases: encodings and their BOMs, bytes that
// are not valid, the edge cases of the letter table, and where findings lie.
// The differential fuzz target covers everything else.
#include "stream/stream.h"

#include "stream/position.h"

#include "letters/repairs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Recorder : public FindingSink {
public:
    void found(const Finding& finding) override
    {
        places += std::to_string(finding.at.line) + ':' + std::to_string(finding.at.column) + ' ';
        rows += std::to_string(finding.row) + ' ';
    }
    void found_twin(const TwinFinding&) override {}
    std::string places;
    std::string rows;
};

// The whole text in pieces of `piece` bytes.
std::string repaired(const std::string& text, size_t piece, FindingSink* sink = nullptr, bool words = false)
{
    RepairStream stream(sink, words);
    std::string out;
    for (size_t at = 0; at <= text.size(); at += piece) {
        size_t size = std::min(piece, text.size() - at);
        text.copy(reinterpret_cast<char*>(stream.input_area()), size, at);
        ByteSpan final = stream.repair(size, at + size == text.size());
        out.append(reinterpret_cast<const char*>(final.data), final.size);
    }
    return out;
}

std::string utf16le(const std::u16string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text)
        bytes += {char(unit & 0xFF), char(unit >> 8)};
    return bytes;
}

// Text of the Basic Multilingual Plane in UTF-8.
std::string utf8(const std::u16string& text)
{
    std::string bytes;
    for (char16_t unit : text) {
        if (unit < 0x80)
            bytes += char(unit);
        else if (unit < 0x800)
            bytes += {char(0xC0 | unit >> 6), char(0x80 | (unit & 0x3F))};
        else
            bytes += {char(0xE0 | unit >> 12), char(0x80 | (unit >> 6 & 0x3F)), char(0x80 | (unit & 0x3F))};
    }
    return bytes;
}

std::string utf16be(const std::u16string& text)
{
    std::string bytes = "\xFE\xFF";
    for (char16_t unit : text)
        bytes += {char(unit >> 8), char(unit & 0xFF)};
    return bytes;
}

std::string repeated(const std::string& text, size_t times)
{
    std::string out;
    for (size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

}  // namespace

TEST(RepairStream, RepairsWhatTheTableNamesAndPassesEverythingElse)
{
    struct Case {
        const char* name;
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"greek and latin", "\xCE\x91\xCE\x92\xCE\x93 \xC4\xB8\xE1\xB4\x8F\xCA\x99\n",
         "\xD0\x90\xD0\x92\xD0\x93 \xD0\xBA\xD0\xBE\xD0\xB2\n"},
        {"one mark taken", "\xD0\xB8\xCC\x86\xCC\x86", "\xD0\xB9\xCC\x86"},
        {"capital ie and diaeresis compose", "\xD0\x95\xCC\x88", "\xD0\x81"},
        {"greek epsilon and diaeresis make one letter", "\xCE\x95\xCC\x88", "\xD0\x81"},
        {"stress mark without a composed letter stays", "\xD0\xBE\xCC\x81", "\xD0\xBE\xCC\x81"},
        {"greek small letters stay", "\xCE\xB1\xCE\xBF", "\xCE\xB1\xCE\xBF"},
        {"utf-8 bom kept", "\xEF\xBB\xBF\xCE\x91", "\xEF\xBB\xBF\xD0\x90"},
        {"line ends kept", "\r\n\r\xCE\x91\n", "\r\n\r\xD0\x90\n"},
        {"invalid bytes kept",
         "\x80\xCE\xC0\x80\xED\xA0\x80\xD0\xB8\xFF\xCC\x86\xE1\xB4",
         "\x80\xCE\xC0\x80\xED\xA0\x80\xD0\xB8\xFF\xCC\x86\xE1\xB4"},
        {"utf-16le", utf16le(u"\u0438\u0306\u0391\U0001F600\u0138"),
         utf16le(u"\u0439\u0410\U0001F600\u043A")},
        {"utf-16be", utf16be(u"\u0418\u0306\u1D0F"), utf16be(u"\u0419\u043E")},
        {"utf-16 look-alike and mark", utf16le(u"\u0395\u0308\u1D0F\u0308\u0395"),
         utf16le(u"\u0401\u04E7\u0415")},
        {"utf-16 lone surrogate and odd byte kept", utf16le(u"\xDC00\u0391") + "\x91",
         utf16le(u"\xDC00\u0410") + "\x91"},
        {"utf-16 bytes read as utf-8 without a bom", std::string("\x91\x03", 2),
         std::string("\x91\x03", 2)},
        // Past a thousand or so in a piece, the capitals are searched again.
        {"dense greek capitals", repeated("\xCE\x9F\xD0\xBD ", 3000), repeated("\xD0\x9E\xD0\xBD ", 3000)},
        {"utf-16 dense greek capitals", "\xFF\xFE" + repeated(utf16le(u"\u039F\u043D ").substr(2), 3000),
         "\xFF\xFE" + repeated(utf16le(u"\u041E\u043D ").substr(2), 3000)},
        {"utf-16 text in capitals", utf16le(u"\u03A7\u0391\u0411\u0391\u03A1\u039F\u0412"),
         utf16le(u"\u0425\u0410\u0411\u0410\u0420\u041E\u0412")},
        {"utf-16 greek text, then a capital", utf16le(u"\u03BB\u03CC\u03B3\u03BF\u03C2, \u039F\u043B\u0430"),
         utf16le(u"\u03BB\u03CC\u03B3\u03BF\u03C2, \u041E\u043B\u0430")},
        // In Greek text, whose small letters share the capitals' lead, too.
        {"greek text, then a capital", repeated("\xCE\xBB\xCF\x8C\xCE\xB3\xCE\xBF\xCF\x82 ", 40) + "\xCE\x9F\xD0\xBB\xD0\xB0",
         repeated("\xCE\xBB\xCF\x8C\xCE\xB3\xCE\xBF\xCF\x82 ", 40) + "\xD0\x9E\xD0\xBB\xD0\xB0"},
    };
    for (const Case& c : cases) {
        for (size_t piece : {size_t{1}, size_t{2}, size_t{3}, RepairStream::piece_size})
            EXPECT_EQ(repaired(c.input, piece), c.expected) << c.name << ", pieces of " << piece;
    }
}

TEST(RepairStream, FindingsCountLinesAtLfAndColumnsInCodePoints)
{
    struct Case {
        const char* name;
        std::string input;
        std::string places;
    };
    // Lines of every length below 60, down to empty ones: in a long stretch
    // the line ends are counted a vector at a time, not searched one by one.
    std::u16string lines;
    for (size_t length = 60; length-- > 0;)
        lines += std::u16string(length, u'\u0431') + u'\n';
    lines += u"\u0431\u0391";
    const Case cases[] = {
        {"utf-8: lines of every length", utf8(lines), "61:2 "},
        {"utf-16le: lines of every length", utf16le(lines), "61:2 "},
        {"utf-16be: lines of every length", utf16be(lines), "61:2 "},
        {"more line ends than a vector lane counts", std::string(5000, '\n') + "\xCE\x91", "5001:1 "},
        {"utf-16le: more line ends than a vector lane counts",
         utf16le(std::u16string(3000, u'\n') + u"\u0391"), "3001:1 "},
        {"first line", "\xCE\x91\xCE\x92", "1:1 1:2 "},
        {"bom not counted", "\xEF\xBB\xBF" "a\xCE\x91", "1:2 "},
        {"cr counts one, lf ends a line", "a\r\xCE\x91\nb\xCE\x91", "1:3 2:2 "},
        {"pair reported at its base", "\xD0\xB8\xD0\xB8\xCC\x86", "1:2 "},
        {"each invalid byte counts one", "\xE1\xB4" "a\xC0\x80\xCE\x91", "1:6 "},
        {"four-byte character counts one", "\xF0\x9F\x98\x80\xCE\x91", "1:2 "},
        {"utf-16: pair counts one, lone surrogate two", utf16le(u"\U0001F600\xD800\u0391\n\u0391"),
         "1:4 2:1 "},
        // Long stretches are counted a vector at a time.
        {"a two-byte letter cut by a vector's end", "a" + repeated("\xD0\xB1", 40) + "\xCE\x91",
         "1:42 "},
        {"invalid bytes in the last, partial vector",
         "a" + repeated("\xD0\xB1", 8) + "\x80\xC0\x80\xD0" "a\xCE\x91", "1:15 "},
        {"a line end first in the last vector, a few bytes after the start",
         "abc\n" + std::string(15, 'b') + "\xCE\x91", "2:16 "},
        {"line ends among stretches of several vectors",
         repeated("\xD0\xB1", 40) + "\n" + repeated("\xD0\xB1", 70) + "\n" + repeated("\xD0\xB1", 33) + "\xCE\x91",
         "3:34 "},
        {"invalid bytes but no stray continuation in a long stretch",
         "a" + repeated("\xD0\xB1", 8) + "\xE2\xC0\xFF\xD0" "a\xD0\xB1\xCE\x91", "1:16 "},
        {"utf-16le: lf and a pair within long stretches",
         utf16le(u"\u0431\u0431\u0431\u0431\u0431\u0431\u0431\u0431\u0431\n\u0431\u0431"
                 u"\u0431\u0431\u0431\u0431\u0431\u0431\U0001F600\u0431\u0391"),
         "2:11 "},
        {"utf-16be: lf and a pair within long stretches",
         utf16be(u"\u0431\u0431\u0431\u0431\u0431\u0431\u0431\u0431\u0431\n\u0431\u0431"
                 u"\u0431\u0431\u0431\u0431\u0431\u0431\U0001F600\u0431\u0391"),
         "2:11 "},
        // A long stretch skips to its last LF; units with a byte 0A are none.
        {"utf-16le: units with a byte 0A in a long stretch",
         utf16le(std::u16string(600, u'\u0431') + u"\u040A\u0A0A\n\u040A\u0A0A\u0391"), "2:3 "},
        {"utf-16be: units with a byte 0A in a long stretch",
         utf16be(std::u16string(600, u'\u0431') + u"\u040A\u0A0A\n\u040A\u0A0A\u0391"), "2:3 "},
        {"utf-16le: a long stretch's only lf at its start",
         utf16le(u"\u0431\n" + std::u16string(600, u'\u0431') + u"\u0391"), "2:601 "},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    // Bytes at every place of a vector, after two-byte letters, and before
    // more of them, right before the finding, or just before the last
    // vector: the vectors carry the kinds of each block's last bytes into
    // the next.
    struct Placed {
        const char* name;
        const char* bytes;
        size_t columns;
    };
    const Placed placed[] = {
        {"a stray continuation", "\x80", 1},
        {"a dash", "\xE2\x80\x94", 1},
        {"three-byte characters in a row", "\xE2\x80\x94\xE2\x80\xA6\xEF\xBF\xBD", 3},
        {"a three-byte character cut short", "\xE1\xB4", 2},
        {"a three-byte lead, a letter, a continuation", "\xE1" "a\x80", 3},
        {"a continuation after a three-byte character", "\xE2\x80\x94\x80", 2},
        {"a lead that narrows its continuation's range", "\xE0\xA4\x80", 1},
        {"an overlong form", "\xE0\x80\x80", 3},
        {"a surrogate", "\xED\xA0\x80", 3},
    };
    const std::string letters = repeated("\xD0\xB1", 24);
    const std::string afters[] = {letters, "", std::string(15, 'b')};
    for (const Placed& p : placed) {
        for (size_t shift = 0; shift < 64; ++shift) {
            for (const std::string& after : afters) {
                size_t column = shift + 24 + p.columns + (after.size() == 15 ? 15 : after.size() / 2) + 1;
                all.push_back({p.name, std::string(shift, 'a') + letters + p.bytes + after + "\xCE\x91",
                               "1:" + std::to_string(column) + " "});
            }
        }
    }
    for (VectorWidth width : {VectorWidth::widest, VectorWidth::narrow}) {
        allow_vectors(width);
        for (const Case& c : all) {
            for (size_t piece : {size_t{1}, RepairStream::piece_size}) {
                Recorder recorder;
                repaired(c.input, piece, &recorder);
                EXPECT_EQ(recorder.places, c.places) << c.name << ", pieces of " << piece << ", vectors of width "
                                                     << int(width);
            }
        }
    }
    allow_vectors(VectorWidth::widest);
}

// A two-byte letter cut by the end of what the tracker is given waits for
// its second byte, after stretches of every length the vectors count.
TEST(PositionTracker, ALetterCutAtTheEndWaitsForTheRest)
{
    for (VectorWidth width : {VectorWidth::widest, VectorWidth::narrow}) {
        allow_vectors(width);
        for (size_t letters = 8; letters < 80; ++letters) {
            std::string text = repeated("\xD0\xB1", letters) + "\xD0";
            PositionTracker tracker(TextEncoding::utf8, 0);
            tracker.advance(reinterpret_cast<const uint8_t*>(text.data()), text.size());
            tracker.advance(reinterpret_cast<const uint8_t*>("\xB1"), 1);
            EXPECT_EQ(tracker.next_position().column, letters + 2) << letters << " letters, width " << int(width);
        }
    }
    allow_vectors(VectorWidth::widest);
}

TEST(RepairStream, ChangedOnlyWhenSomethingWasRepaired)
{
    RepairStream clean;
    std::string text = "\xD0\xBE\xCC\x81 \xCE\xB1";
    text.copy(reinterpret_cast<char*>(clean.input_area()), text.size());
    clean.repair(text.size(), true);
    EXPECT_FALSE(clean.changed());

    RepairStream cut;
    cut.input_area()[0] = '\xCE';
    cut.repair(1, false);
    EXPECT_FALSE(cut.changed());
    cut.input_area()[0] = '\x91';
    cut.repair(1, true);
    EXPECT_TRUE(cut.changed());
}

// Each row alone, cut into bytes and whole, in both encodings: the pairs of
// a look-alike and a mark must win over the look-alike's own row.
TEST(RepairStream, AppliesEveryRowAndComposition)
{
    for (const LetterFix& fix : repairs) {
        std::u16string search(fix.search), replacement(fix.replacement);
        for (size_t piece : {size_t{1}, RepairStream::piece_size}) {
            EXPECT_EQ(repaired(utf16le(u"x" + search), piece), utf16le(u"x" + replacement))
                << "U+" << std::hex << int(search[0]) << " in pieces of " << std::dec << piece;
            EXPECT_EQ(repaired(utf8(search), piece), utf8(replacement))
                << "U+" << std::hex << int(search[0]) << " in pieces of " << std::dec << piece;
        }
    }
}

// Dense damage is repaired a block at a time: 16 units of UTF-16 in 32-byte
// vectors, and in 64-byte ones 32 units or 62 bytes of UTF-8. Each kind of
// hit, at every place in a block amid dense damage, must come out as the
// scan alone repairs it, in each encoding and at each vector width.
TEST(RepairStream, DenseDamageRepairsAsTheScanDoes)
{
    std::u16string dense;
    for (int i = 0; i < 40; ++i)
        dense += u"\u1D0F\u0434";
    const std::u16string kinds[] = {
        u"\u1D0F", u"\u0138", u"\u0299", u"\u1D0F\u0308", u"\u0138\u0301", u"\u0138\u0306", u"\u0438\u0306",
        u"\u0434\u0306", u"\u0306", u"\u0438\u0306\u0306", u"\u0438\u0311", u"\u0434a\u0434", u" \u0434o\u043C ",
        u" \u043A\u0440\u0430\u00EF\u043D\u0430 ", u"\u0438\u0306\u0391 ", u"\u0391\u0434", u"\u03B1\u03BF", u"\u0395\u0308",
        u"\u0456\u0308", u"\u0430\u0306", u"\u04D9\u0308",
        // A capital, and a mark that stops the mover right after it told of it.
        u"\u0391" + std::u16string(24, u'\u0434') + u"\u0438\u0306",
    };
    // More capitals than the stage is told of in a piece.
    std::u16string capitals = dense;
    for (int i = 0; i < 1100; ++i)
        capitals += u"\u039F\u043D \u1D0F ";
    struct Encoding {
        std::string (*encode)(const std::u16string&);
        size_t block;  // in units of the shift
    };
    const Encoding encodings[] = {{utf8, 64}, {utf16le, 32}, {utf16be, 32}};
    for (const Encoding& encoding : encodings) {
        for (size_t shift = 0; shift <= encoding.block; ++shift) {
            // Each kind where the block before it left off, and again after
            // dense damage took the blocks up again; the last one among the
            // last blocks, which end the text.
            std::u16string text = shift < encoding.block ? dense : capitals;
            for (const std::u16string& kind : kinds)
                text += std::u16string(shift % encoding.block, u'x') + kind + dense + kind;
            text += std::u16string(40, u'x');
            std::string bytes = encoding.encode(text);
            // A lead byte, then an ASCII digit whose low bits would make it
            // и, and a breve: no letter to compose.
            if (encoding.encode == utf8)
                bytes.insert(bytes.size() - 40,
                             std::string(shift % encoding.block, 'x') + "\xD0" "8\xCC\x86" + utf8(dense));
            // The text, and where each look-alike was found.
            for (bool words : {false, true}) {
                allow_vectors(VectorWidth::narrow);
                Recorder expected_places;
                std::string expected = repaired(bytes, RepairStream::piece_size, nullptr, words);
                repaired(bytes, RepairStream::piece_size, &expected_places, words);
                for (VectorWidth width : {VectorWidth::wide, VectorWidth::widest}) {
                    allow_vectors(width);
                    Recorder places;
                    EXPECT_EQ(repaired(bytes, RepairStream::piece_size, nullptr, words), expected)
                        << "shift " << shift << " of a block of " << encoding.block << (words ? ", words" : "")
                        << (width == VectorWidth::widest ? ", widest vectors" : "");
                    repaired(bytes, RepairStream::piece_size, &places, words);
                    EXPECT_EQ(places.places + places.rows, expected_places.places + expected_places.rows)
                        << "shift " << shift << " of a block of " << encoding.block << (words ? ", words" : "")
                        << (width == VectorWidth::widest ? ", widest vectors" : "");
                }
            }
        }
    }
}

TEST(BinaryWatch, NulMakesBinaryUnlessTheTextStartsAsUtf16)
{
    struct Case {
        const char* name;
        std::string input;
        bool binary;
    };
    const Case cases[] = {
        {"empty", "", false},
        {"plain text", "\xCE\x91 text\n", false},
        {"nul alone", std::string(1, '\0'), true},
        {"nul at the end", std::string("text\0", 5), true},
        {"utf-16le", std::string("\xFF\xFE" "a\0", 4), false},
        {"utf-16be", std::string("\xFE\xFF\0a", 4), false},
        {"utf-8 bom does not excuse a nul", std::string("\xEF\xBB\xBF\0", 4), true},
        {"half a mark", std::string("\xFE\0", 2), true},
        {"a mark later does not count", std::string("ab\xFF\xFE\0", 5), true},
    };
    for (const Case& c : cases) {
        auto bytes = reinterpret_cast<const uint8_t*>(c.input.data());
        EXPECT_EQ(is_binary(bytes, c.input.size()), c.binary) << c.name << ", whole";
        BinaryWatch watch;
        for (size_t at = 0; at < c.input.size(); ++at)
            watch.see(bytes + at, 1);
        EXPECT_EQ(watch.binary(), c.binary) << c.name << ", byte by byte";
    }
}
