// Substring replacement: its rules case by case, its arguments lying in the
// area it writes to, and a randomized comparison with a plain model.
#include "replace_model.h"
#include "string_testing.h"

#include <cstring>
#include <random>

using Replace = StringArea;
using ReplaceInPlace = StringArea;
using ReplaceArguments = StringArea;

namespace {

struct Call {
    const unit16* text;
    const unit16* search;
    const unit16* replacement;
    uint32_t mode;
    int32_t start;
    int32_t count;
};

std::string describe(const Call& c)
{
    return "text '" + show(c.text) + "' search '" + show(c.search) + "' replacement '" +
           show(c.replacement) + "' mode " + std::to_string(c.mode) + " start " +
           std::to_string(c.start) + " count " + std::to_string(c.count);
}

// Normal mode by the protocol; also checks that the reservation was exact.
std::u16string replaced(const Call& c)
{
    uint32_t saved = string_offset();
    replace_text(c.text, c.search, c.replacement, c.mode, c.start, c.count, saved);
    uint32_t end = string_offset();
    std::u16string result = take_result(saved);
    EXPECT_EQ(end, saved + 2 * result.size()) << "reservation not exact for " << describe(c);
    return result;
}

std::u16string replaced_in_place(std::u16string text, const Call& c)
{
    uint32_t before = string_offset();
    replace_text(&text[0], c.search, c.replacement, c.mode | REPLACE_INPLACE, c.start, c.count,
                 12345);
    EXPECT_EQ(string_offset(), before) << "in place writes nothing to the area";
    return text;
}

}  // namespace

TEST_F(Replace, FollowsTheScanningRules)
{
    struct Case {
        Call call;
        const unit16* expected;
    };
    const Case cases[] = {
        {{u"aaa", u"aa", u"b", 0, 1, -1}, u"ba"},  // left to right, no overlap
        {{u"aa", u"a", u"aa", 0, 1, -1}, u"aaaa"},  // inserted text is not searched again
        {{u"ab", u"a", u"ba", 0, 1, -1}, u"bab"},
        {{u"a-b-c", u"-", u"--", 0, 1, -1}, u"a--b--c"},
        {{u"abc", u"", u"x", 0, 1, -1}, u"abc"},  // empty search: no occurrence
        {{u"abc", u"", u"x", REPLACE_NOCASE, 1, -1}, u"abc"},
        {{u"abc", nullptr, u"x", 0, 1, -1}, u"abc"},
        {{u"", u"a", u"x", 0, 1, -1}, u""},
        {{nullptr, u"a", u"x", 0, 1, -1}, u""},
        {{nullptr, nullptr, nullptr, 0, 1, -1}, u""},
        {{u"banana", u"a", nullptr, 0, 1, -1}, u"bnn"},  // null replacement removes
        {{u"xxab", u"ab", u"Y", 0, 1, -1}, u"xxY"},
        {{u"xxa", u"ab", u"Y", 0, 1, -1}, u"xxa"},  // partial occurrence at the end
        {{u"AB ab", u"ab", u"x", REPLACE_NOCASE, 1, -1}, u"x x"},
        {{u"abAB", u"ab", u"x", 4 | 8 | 0x80000000u, 1, -1}, u"xAB"},  // unknown bits: no effect
    };
    for (const Case& c : cases) {
        EXPECT_EQ(show(replaced(c.call)), show(c.expected)) << describe(c.call);
    }
}

TEST_F(Replace, StartAndCountLimitTheScan)
{
    struct Case {
        Call call;
        const unit16* expected;
    };
    const Case cases[] = {
        {{u"abcabc", u"a", u"x", 0, 3, -1}, u"abcxbc"},
        {{u"aXa", u"a", u"b", 0, 2, -1}, u"aXb"},  // occurrences before start stay
        {{u"abc", u"a", u"x", 0, 0, -1}, u"xbc"},  // below 1 counts as 1
        {{u"abc", u"a", u"x", 0, -7, -1}, u"xbc"},
        {{u"abc", u"c", u"x", 0, 3, -1}, u"abx"},
        {{u"abc", u"a", u"x", 0, 4, -1}, u"abc"},  // start at the terminator
        {{u"abc", u"a", u"x", 0, 9, -1}, u"abc"},  // start beyond the end
        {{u"abcabc", u"a", u"x", 0, 1, 1}, u"xbcabc"},
        {{u"abcabc", u"a", u"x", 0, 1, 2}, u"xbcxbc"},
        {{u"abcabc", u"a", u"x", 0, 1, 0}, u"abcabc"},
        {{u"abcabc", u"a", u"x", 0, 1, -5}, u"xbcabc"},  // other negatives: one
        {{u"aaaa", u"aa", u"a", 0, 2, 1}, u"aaa"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(show(replaced(c.call)), show(c.expected)) << describe(c.call);
    }
}

TEST_F(Replace, WithoutOccurrenceAdvancesTheOffsetByTheTextExactly)
{
    string_push_copy(u"before");
    uint32_t saved = string_offset();
    replace_text(u"no match here", u"zz", u"y", saved);
    EXPECT_EQ(string_offset(), saved + 2 * 13);
    EXPECT_EQ(show(take_result(saved)), "no match here");
}

TEST_F(Replace, MatchesLongTextsAtEveryAlignment)
{
    // Occurrences at each position around the 32-byte blocks of the scan.
    for (size_t lead = 0; lead < 40; ++lead) {
        std::u16string text(lead, u'.');
        text += u"ab";
        text += std::u16string(70, u'-');
        text += u"ab";
        std::u16string expected(lead, u'.');
        expected += u"Z";
        expected += std::u16string(70, u'-');
        expected += u"Z";
        Call call{text.c_str(), u"ab", u"Z", 0, 1, -1};
        ASSERT_EQ(show(replaced(call)), show(expected)) << "lead " << lead;
    }
}

TEST_F(ReplaceInPlace, RewritesTheTextWhereItStands)
{
    struct Case {
        const unit16* text;
        Call call;  // text taken from the case
        const unit16* expected;
    };
    const Case cases[] = {
        {u"abcabc", {nullptr, u"a", u"x", 0, 1, -1}, u"xbcxbc"},
        {u"abcabc", {nullptr, u"a", u"x", 0, 3, -1}, u"abcxbc"},
        {u"abcabc", {nullptr, u"a", u"x", 0, 1, 1}, u"xbcabc"},
        {u"abcabc", {nullptr, u"a", u"x", 0, 1, 0}, u"abcabc"},
        {u"abcabc", {nullptr, u"a", u"x", 0, 1, -5}, u"abcabc"},  // other negatives: none
        {u"aaa", {nullptr, u"aa", u"bb", 0, 1, -1}, u"bba"},
        {u"AB ab", {nullptr, u"ab", u"xy", REPLACE_NOCASE, 1, -1}, u"xy xy"},
        {u"abc", {nullptr, u"a", u"x", 0, 9, -1}, u"abc"},
        {u"abc", {nullptr, u"", u"", 0, 1, -1}, u"abc"},
        {u"abc", {nullptr, u"a", u"xy", 0, 1, -1}, u"abc"},  // longer: would overrun
        {u"abc", {nullptr, u"ab", u"x", 0, 1, -1}, u"abc"},  // shorter: would leave a tail
    };
    for (const Case& c : cases) {
        EXPECT_EQ(show(replaced_in_place(c.text, c.call)), show(c.expected))
            << "text '" << show(c.text) << "' " << describe(c.call);
    }
}

TEST_F(ReplaceInPlace, NullTextIsLeftAlone)
{
    replace_text(nullptr, u"a", u"b", REPLACE_INPLACE, 1, -1, 0);
    EXPECT_EQ(string_offset(), 0u);
}

TEST_F(ReplaceArguments, TextLyingAtTheGivenOffsetIsReadBeforeItIsOverwritten)
{
    for (size_t length : {3u, 20000u}) {  // the long one makes the area move
        std::u16string text(length, u'a');
        uint32_t saved = string_offset();
        string_push_copy(text.c_str());
        const unit16* in_area = reinterpret_cast<const unit16*>(string_area.base + saved);
        replace_text(in_area, u"a", u"bc", saved);
        std::u16string expected;
        for (size_t i = 0; i < length; ++i)
            expected += u"bc";
        EXPECT_TRUE(same_text(expected, take_result(saved))) << "length " << length;
        EXPECT_EQ(string_offset(), saved);
    }
}

TEST_F(ReplaceArguments, SearchAndReplacementWhereTheResultGoesAreReadFromCopies)
{
    // Both lie at the offset the result is written to, in a buffer that grows.
    for (size_t length : {5u, 30000u}) {
        std::u16string text(length, u'x');
        std::memcpy(string_reserve(2, 0), u"x", 2 * sizeof(unit16));  // its zero stays in use
        uint32_t replacement_at = string_offset();
        string_push_copy(u"yz");
        const char* base = string_area.base;
        replace_text(text.c_str(), reinterpret_cast<const unit16*>(base),
                     reinterpret_cast<const unit16*>(base + replacement_at), 0);
        std::u16string expected;
        for (size_t i = 0; i < text.size(); ++i)
            expected += u"yz";
        EXPECT_TRUE(same_text(expected, take_result(0))) << "length " << length;
    }
}

TEST_F(ReplaceArguments, RefusedGrowthGivesAnEmptyResultAndKeepsTheText)
{
    const std::u16string text(30000, u'a');
    uint32_t saved = string_offset();
    heap_fail_next(1);
    EXPECT_EQ(replace_text(text.c_str(), u"a", u"b", saved), 0);
    EXPECT_EQ(string_offset(), saved);
    EXPECT_EQ(show(take_result(saved)), "");

    string_push_copy(text.c_str());
    const unit16* in_area = reinterpret_cast<const unit16*>(string_area.base + saved);
    heap_fail_next(1);
    EXPECT_EQ(replace_text(in_area, u"a", u"bb", saved), 0);
    EXPECT_EQ(show(take_result(saved)), "");
    EXPECT_EQ(string_offset(), saved);
}

TEST_F(Replace, AgreesWithAPlainModelOnRandomCalls)
{
    std::mt19937 random(20240611);
    const char16_t alphabet[] = u"abAB";
    auto random_units = [&](size_t length) {
        std::u16string s(length, u'a');
        for (char16_t& unit : s)
            unit = alphabet[random() % 4];
        return s;
    };
    auto random_string = [&](size_t max_length) { return random_units(random() % (max_length + 1)); };
    const int32_t counts[] = {-3, -1, -1, 0, 1, 2, 3};
    for (int round = 0; round < 20000; ++round) {
        std::u16string text = random_string(round % 5 == 0 ? 150 : 12);
        std::u16string search = random_string(3);
        std::u16string replacement = random_string(3);
        uint32_t mode = random() % 2 ? uint32_t{REPLACE_NOCASE} : 0u;
        int32_t start = static_cast<int32_t>(random() % (text.size() + 5)) - 1;
        int32_t count = counts[random() % 7];
        Call call{text.c_str(), search.c_str(), replacement.c_str(), mode, start, count};
        ASSERT_EQ(show(replaced(call)),
                  show(model_replace(text, search, replacement, mode, start, count)))
            << describe(call);

        // Mostly same-length pairs, which in place accepts.
        if (round % 4 != 0)
            replacement = random_units(search.size());
        call.replacement = replacement.c_str();
        ASSERT_EQ(show(replaced_in_place(text, call)),
                  show(model_replace(text, search, replacement, mode | REPLACE_INPLACE, start,
                                     count)))
            << "in place: " << describe(call);
    }
}
