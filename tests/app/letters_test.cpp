// The normalization pass: what each kind of look-alike becomes, what stays,
// the change test, and the pass over a long generated text.
#include "app/letters.h"
#include "letters_model.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

namespace {

std::string show(const std::u16string& s)
{
    std::string out;
    for (char16_t unit : s) {
        if (unit >= 0x20 && unit < 0x7F) {
            out += static_cast<char>(unit);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
            out += escaped;
        }
    }
    return out;
}

class Normalizer : public ::testing::Test {
protected:
    void SetUp() override
    {
        string_area_init();
        work_text = nullptr;
        saved_text = nullptr;
    }
    void TearDown() override
    {
        work_text = nullptr;  // their blocks go with the string heap
        saved_text = nullptr;
        string_area_end();
    }
};

}  // namespace

TEST_F(Normalizer, RepairsEachKindOfLookAlike)
{
    struct Case {
        const char16_t* input;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"\u0438\u0306", u"\u0439"},
        {u"\u0435\u0308", u"\u0451"},
        {u"\u0418\u0306", u"\u0419"},
        {u"\u0438\u0306\u0438\u0306", u"\u0439\u0439"},
        {u"\u0438\u0306\u0306", u"\u0439\u0306"},  // one mark only
        {u"\u0391\u0392\u0393", u"\u0410\u0412\u0413"},
        {u"\u0395\u0397\u039A\u039B\u039F\u03A0\u03A1\u03A4\u03A7\u039C",
         u"\u0415\u041D\u041A\u041B\u041E\u041F\u0420\u0422\u0425\u041C"},
        {u"\u0395\u0308", u"\u0415\u0308"},  // Greek Epsilon: not into a yo
        {u"\u0138\u1D0F\u0299", u"\u043A\u043E\u0432"},
        {u"\u03A7\u039C\u0399", u"\u0425\u041C\u0399"},  // Iota has no row
        {u"a\u0391\r\n\t\u0438\u0306b", u"a\u0410\r\n\t\u0439b"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(show(run_pass(c.input)), show(c.expected)) << "input " << show(c.input);
        EXPECT_EQ(text_changed(), 1) << "input " << show(c.input);
    }
}

TEST_F(Normalizer, LeavesEverythingElseAndReportsNoChange)
{
    const char16_t* inputs[] = {
        u"",
        u"\u0438",
        u"\u0306",
        u"\u0306\u0438",  // mark before the letter
        u"\u0415\u0308",  // capital Ie with diaeresis has no row
        u"\u03B1\u03BF\u03BA",  // Greek small letters
        u"\u0394\u0396\u0398\u0399\u039D\u039E\u03A3\u03A5\u03A6\u03A8\u03A9",
        u"\u0439\u0451\u0419\u0410\u043A\u043E\u0432",  // already repaired
        u"plain ASCII\r\nline two\t",
    };
    for (const char16_t* input : inputs) {
        EXPECT_EQ(show(run_pass(input)), show(input));
        EXPECT_EQ(text_changed(), 0) << "input " << show(input);
    }
}

TEST_F(Normalizer, NullTextBecomesEmptyAndUnchanged)
{
    normalize_letters();
    EXPECT_EQ(show(text_of(work_text)), "");
    EXPECT_EQ(text_changed(), 0);
}

TEST_F(Normalizer, LeavesTheAreaOffsetWhereItWas)
{
    string_push_copy(u"held by an outer statement");
    uint32_t before = string_offset();
    run_pass(u"\u0391\u0438\u0306 text");
    EXPECT_EQ(string_offset(), before);
}

TEST_F(Normalizer, LongGeneratedTextMatchesTheModelAndASecondPassChangesNothing)
{
    // Letters, line breaks, tabs, every search string, near misses and stray marks.
    const std::u16string pieces[] = {
        u"\u0430", u"\u0431", u"\u0438", u"\u0435", u"\u0418", u"\u043E", u"\u044F", u" ",
        u"\r\n", u"\t", u"x", u"\u0306", u"\u0308", u"\u0415\u0308", u"\u03B1", u"\u0394",
        u"\u0438\u0306\u0306",
    };
    std::mt19937 random(7031);
    std::u16string input;
    while (input.size() < 120000) {
        if (random() % 12 == 0) {
            input += letter_fixes[random() % 19].search;
        } else {
            input += pieces[random() % (sizeof pieces / sizeof pieces[0])];
        }
    }
    std::u16string expected = model_pass(input);
    ASSERT_NE(expected, input);

    std::u16string first = run_pass(input);
    EXPECT_TRUE(first == expected) << "first pass differs from the model";
    EXPECT_EQ(text_changed(), 1);
    EXPECT_LT(first.size(), input.size()) << "decomposed letters shorten the text";

    std::u16string second = run_pass(first);
    EXPECT_TRUE(second == first) << "a second pass changed the text";
    EXPECT_EQ(text_changed(), 0);
}

// Every single refusal during the pass: the pass either says so or gives the
// whole repair, never a partial one reported as done.
TEST_F(Normalizer, ShortMemoryIsReportedInsteadOfAPartialRepair)
{
    const std::u16string input = u"\u0391\u0392 \u0438\u0306 \u1D0F";
    run_pass(u"an earlier, longer text that leaves its blocks behind");
    int32_t refused = 0;
    for (uint32_t n = 1;; ++n) {
        string_push_copy(input.c_str());
        string_assign(&work_text, 0);
        heap_fail_range(n, 1);
        const int32_t done = normalize_letters();
        const bool reached = heap_allocations() >= n;
        heap_fail_next(0);
        if (done) {
            EXPECT_EQ(show(text_of(work_text)), show(model_pass(input))) << "refusal " << n;
        }
        refused += !done;
        if (!reached)
            break;
    }
    EXPECT_GT(refused, 0) << "no refusal reached the pass";
}
