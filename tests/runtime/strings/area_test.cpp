// The temporary string area, the offset protocol and string variables.
#include "string_testing.h"

#include <algorithm>
#include <cstring>
#include <memory>

using AreaGrowth = StringArea;
using Protocol = StringArea;
using Variables = StringArea;
using Comparison = StringArea;
using MemoryShortage = StringArea;

TEST_F(AreaGrowth, StartsEmptyWithASixteenByteBuffer)
{
    ASSERT_NE(string_area.base, nullptr);
    EXPECT_EQ(string_offset(), 0u);
    EXPECT_EQ(string_area.capacity, 16);
    string_area.base[15] = 0;  // the address checker vouches for the 16 bytes
}

TEST_F(AreaGrowth, GrowsOnceNoMoreThanFourBytesWouldRemain)
{
    struct Case {
        uint32_t units;
        int32_t capacity;
        uint32_t buffer_bytes;
    };
    const Case cases[] = {{5, 16, 16}, {6, 16396, 16406}};
    for (const Case& c : cases) {
        string_area_end();
        string_area_init();
        ASSERT_NE(string_reserve(c.units, 0), nullptr);
        EXPECT_EQ(string_area.capacity, c.capacity) << c.units << " units";
        EXPECT_EQ(string_offset(), 2 * c.units);
        string_area.base[c.buffer_bytes - 1] = 0;  // the address checker vouches for the size
    }
}

TEST_F(AreaGrowth, MeasuresRoomFromTheCurrentOffsetNotTheGivenOne)
{
    string_reserve(4, 0);
    ASSERT_EQ(string_area.capacity, 16) << "8 bytes used, 12 is the limit";
    string_reserve(2, 0);
    EXPECT_EQ(string_area.capacity, 8 + 4 + 16384) << "8 used + 4 asked reaches the limit";
    EXPECT_EQ(string_offset(), 4u) << "the offset follows the given offset";
}

TEST_F(AreaGrowth, KeepsTheContentsWhenTheBufferMoves)
{
    string_push_copy(u"kept");
    unit16* grown = string_reserve(100000, string_offset());
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(string_area.capacity, 8 + 200000 + 16384);
    EXPECT_EQ(show(reinterpret_cast<unit16*>(string_area.base)), "kept");
}

TEST_F(AreaGrowth, GivenOffsetBeyondTheUsedPartStillGetsRoom)
{
    uint32_t far_offset = 40000;
    unit16* out = string_reserve(10, far_offset);
    ASSERT_NE(out, nullptr);
    out[10] = 0;  // the terminator's place exists
    EXPECT_GE(string_area.capacity, static_cast<int32_t>(far_offset + 20 + 4));
}

TEST_F(Protocol, AssignMovesTheResultOutAndRestoresTheOffset)
{
    string_push_copy(u"outer");
    uint32_t saved = string_offset();
    unit16* out = string_reserve(3, saved);
    std::memcpy(out, u"abc", 4 * sizeof(unit16));
    unit16* variable = nullptr;
    string_assign(&variable, saved);
    EXPECT_EQ(show(variable), "abc");
    EXPECT_EQ(string_offset(), saved);
    EXPECT_EQ(show(std::u16string(reinterpret_cast<unit16*>(string_area.base), 5)), "outer");
}

TEST_F(Protocol, PopGivesBackAnUnfilledTailButNeverGoesBelowZero)
{
    uint32_t saved = string_offset();
    unit16* out = string_reserve(10, saved);
    std::memcpy(out, u"abcd", 5 * sizeof(unit16));
    string_pop(6);
    EXPECT_EQ(string_offset(), 8u);
    EXPECT_EQ(show(take_result(saved)), "abcd");
    string_reserve(2, 0);
    string_pop(3);
    EXPECT_EQ(string_offset(), 0u);
}

TEST_F(Protocol, PushCopyOfNullYieldsTheEmptyStringAndKeepsTheOffset)
{
    string_push_copy(u"x");
    uint32_t saved = string_offset();
    string_push_copy(nullptr);
    EXPECT_EQ(string_offset(), saved);
    EXPECT_EQ(show(take_result(saved)), "");
}

TEST_F(Protocol, PushCopyOfAResultLyingInTheAreaSurvivesGrowth)
{
    std::u16string long_text(20000, u'q');
    long_text[0] = u'A';
    string_push_copy(long_text.c_str());
    const unit16* first = reinterpret_cast<unit16*>(string_area.base);
    uint32_t saved = string_offset();
    string_push_copy(first);  // the area grows and moves beneath the source
    EXPECT_TRUE(same_text(long_text, take_result(saved)));
}

TEST_F(Protocol, InAreaCoversBaseUpToTheCurrentOffsetInclusive)
{
    string_push_copy(u"abc");
    const char* base = string_area.base;
    uint32_t end = string_offset();
    EXPECT_EQ(string_in_area(base), 1u);
    EXPECT_EQ(string_in_area(base + end), end + 1);
    EXPECT_EQ(string_in_area(base + end + 2), 0u);
    EXPECT_EQ(string_in_area(base - 2), 0u);
}

TEST_F(Variables, AssignSizesTheBlockToTwiceTheLengthPlusTen)
{
    const std::u16string texts[] = {u"", u"a", u"longer text", u"ab"};
    unit16* variable = nullptr;
    for (const std::u16string& text : texts) {
        uint32_t saved = string_offset();
        string_push_copy(text.c_str());
        string_assign(&variable, saved);
        ASSERT_NE(variable, nullptr) << "the empty string still gets a block";
        EXPECT_EQ(text_of(variable), text);
        variable[text.size() + 4] = 0;  // four spare units behind the zero
    }
}

TEST_F(Variables, CopyCharsTerminatesAndReadsNothingBehindTheLength)
{
    for (uint32_t length : {0u, 1u, 2u, 3u, 4u}) {
        // Exactly `length` units, no terminator: reading one more would be caught.
        std::unique_ptr<unit16[]> source(new unit16[length ? length : 1]);
        for (uint32_t i = 0; i < length; ++i)
            source[i] = static_cast<unit16>(u'a' + i);
        unit16 destination[8];
        std::fill(destination, destination + 8, u'#');
        string_copy_chars(destination, source.get(), length);
        EXPECT_EQ(text_of(destination), std::u16string(u"abcd").substr(0, length));
        EXPECT_EQ(destination[length + 1], u'#') << "nothing written behind the zero";
    }
}

TEST_F(Variables, NewCopyLeavesTheOldBlockAloneAndIgnoresNull)
{
    unit16* variable = nullptr;
    string_new_copy(&variable, nullptr);
    EXPECT_EQ(variable, nullptr);
    string_new_copy(&variable, u"one");
    unit16* first = variable;
    string_new_copy(&variable, u"two");
    EXPECT_NE(variable, first);
    EXPECT_EQ(show(first), "one") << "the old block is not released";
    EXPECT_EQ(show(variable), "two");
    string_new_copy(&variable, nullptr);
    EXPECT_EQ(show(variable), "two");
    variable[3 + 4] = 0;
    string_free(first);
    string_free(variable);
    string_free(nullptr);
}

TEST_F(Comparison, EqualOnlyForIdenticalUnitsAndLength)
{
    struct Case {
        const unit16* a;
        const unit16* b;
        int32_t equal;
    };
    const Case cases[] = {
        {nullptr, u"", 1},     {nullptr, nullptr, 1}, {u"abc", u"abc", 1}, {u"a", u"A", 0},
        {u"ab", u"a", 0},      {u"a", u"ab", 0},      {nullptr, u"x", 0},  {u"x", nullptr, 0},
        {u"\u0435\u0308", u"\u0451", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(string_equal(c.a, c.b), c.equal) << show(c.a) << " vs " << show(c.b);
    }
}

TEST_F(MemoryShortage, RefusedGrowthKeepsTheBufferAndLeavesAnEmptyResult)
{
    string_push_copy(u"before");
    uint32_t saved = string_offset();
    char* base = string_area.base;
    int32_t capacity = string_area.capacity;
    heap_fail_next(1);
    EXPECT_EQ(string_reserve(50000, saved), nullptr);
    EXPECT_EQ(string_area.base, base);
    EXPECT_EQ(string_area.capacity, capacity);
    EXPECT_EQ(string_offset(), saved);
    EXPECT_EQ(show(take_result(saved)), "");
    EXPECT_EQ(show(reinterpret_cast<unit16*>(base)), "before");
}

TEST_F(MemoryShortage, RefusedAssignKeepsTheVariableAndRestoresTheOffset)
{
    unit16* variable = nullptr;
    string_new_copy(&variable, u"old");
    uint32_t saved = string_offset();
    string_push_copy(u"a much longer new text");
    heap_fail_next(1);
    EXPECT_EQ(string_assign(&variable, saved), 0);
    EXPECT_EQ(show(variable), "old");
    EXPECT_EQ(string_offset(), saved);

    unit16* empty = nullptr;
    EXPECT_EQ(string_push_copy(u"new"), 1);
    heap_fail_next(1);
    EXPECT_EQ(string_assign(&empty, saved), 0);
    EXPECT_EQ(empty, nullptr);
    EXPECT_EQ(string_offset(), saved);
}

TEST_F(MemoryShortage, AreaWithoutABufferAllocatesOnFirstUse)
{
    string_area_end();
    heap_fail_range(2, 1);  // the heap is made, its first block refused
    string_area_init();
    EXPECT_EQ(string_area.base, nullptr);
    EXPECT_EQ(string_in_area(nullptr), 0u);
    string_push_copy(u"late");
    EXPECT_EQ(show(take_result(0)), "late");
}
