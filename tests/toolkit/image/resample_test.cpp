// Resampling: the row-size table, the weight tables, the exact summing rule
// of both passes, and the pass order of image_resample.
#include "resample_plain.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

Table weights_of(int32_t cubic, int32_t destination, int32_t source)
{
    Table table = weight_table(cubic, destination, source);
    EXPECT_EQ(destination, table.get_deleter().count);
    return table;
}

std::vector<double> entry_weights(const Table& table, int32_t entry)
{
    std::vector<double> weights;
    int32_t taps = filter_last(table.get(), entry) - filter_first(table.get(), entry) + 1;
    for (int32_t p = 0; p < taps; ++p)
        weights.push_back(filter_weight(table.get(), entry, p));
    return weights;
}

void expect_weights(const std::vector<double>& expected, const std::vector<double>& actual)
{
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(expected[i], actual[i], 1e-12) << "weight " << i;
}

Pixels random_pixels(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    Pixels pixels(size);
    for (auto& value : pixels)
        value = static_cast<uint8_t>(random());
    return pixels;
}

Pixels rows_pass(const Pixels& source, int32_t rows, int32_t source_width,
                 int32_t destination_width, int32_t bpp)
{
    Pixels out(static_cast<size_t>(rows) * destination_width * bpp, 0xEE);
    EXPECT_EQ(1, resample_rows(rows, source.data(), source_width, out.data(), destination_width, bpp));
    return out;
}

Pixels columns_pass(const Pixels& source, int32_t width, int32_t source_height,
                    int32_t destination_height, int32_t bpp)
{
    Pixels out(static_cast<size_t>(width) * destination_height * bpp, 0xEE);
    EXPECT_EQ(1, resample_columns(source.data(), width, source_height, out.data(), width,
                                  destination_height, bpp));
    return out;
}

Pixels resampled(const Pixels& source, int32_t source_width, int32_t source_height,
                 int32_t destination_width, int32_t destination_height, int32_t bpp)
{
    Pixels out(static_cast<size_t>(destination_width) * destination_height * bpp, 0xEE);
    EXPECT_EQ(1, image_resample(source.data(), source_width, source_height, out.data(),
                                destination_width, destination_height, 8 * bpp));
    return out;
}

size_t first_difference(const Pixels& expected, const Pixels& actual)
{
    for (size_t i = 0; i < expected.size(); ++i)
        if (expected[i] != actual[i])
            return i;
    return expected.size();
}

#define EXPECT_SAME_PIXELS(expected, actual)                                              \
    do {                                                                                  \
        ASSERT_EQ((expected).size(), (actual).size());                                    \
        size_t at = first_difference(expected, actual);                                   \
        EXPECT_EQ((expected).size(), at)                                                  \
            << "byte " << at << ": expected " << int((expected)[at]) << ", actual "      \
            << int((actual)[at]);                                                         \
    } while (0)

}  // namespace

TEST(DibRowSize, PadsEveryPixelSizeToWholeWords)
{
    struct Case { int32_t width, bits, bytes; };
    const Case cases[] = {
        {1, 1, 4},   {32, 1, 4},  {33, 1, 8},  {1, 4, 4},   {8, 4, 4},   {9, 4, 8},
        {4, 8, 4},   {5, 8, 8},   {3, 15, 8},  {3, 16, 8},  {2, 16, 4},  {1, 24, 4},
        {4, 24, 12}, {5, 24, 16}, {7, 32, 28}, {0, 32, 0},  {3, 2, 12},  {3, 0, 12},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.bytes, dib_row_size(c.width, c.bits)) << c.width << " pixels at " << c.bits << " bits";
}

TEST(FilterWeights, CubicAtEqualSizesSpansTwoEachSideWithMitchellWeights)
{
    Table table = weights_of(1, 10, 10);
    EXPECT_EQ(3, filter_first(table.get(), 5));
    EXPECT_EQ(7, filter_last(table.get(), 5));
    expect_weights({0, 1.0 / 18, 8.0 / 9, 1.0 / 18, 0}, entry_weights(table, 5));
}

TEST(FilterWeights, ClippedEdgeEntryIsRenormalised)
{
    Table table = weights_of(1, 10, 10);
    EXPECT_EQ(0, filter_first(table.get(), 0));
    EXPECT_EQ(2, filter_last(table.get(), 0));
    expect_weights({16.0 / 17, 1.0 / 17, 0}, entry_weights(table, 0));
    EXPECT_EQ(7, filter_first(table.get(), 9));
    expect_weights({0, 1.0 / 17, 16.0 / 17}, entry_weights(table, 9));
}

TEST(FilterWeights, HalvingWidensToNineTapsSummingToOne)
{
    Table table = weights_of(1, 10, 20);
    for (int32_t i = 0; i < 10; ++i) {
        std::vector<double> weights = entry_weights(table, i);
        EXPECT_LE(weights.size(), 9u) << "entry " << i;
        double sum = 0;
        for (double w : weights)
            sum += w;
        EXPECT_NEAR(1.0, sum, 1e-12) << "entry " << i;
    }
    // Centre 10.5: pixels 7..15 at distances 3.5 .. -4.5, scaled by one half.
    EXPECT_EQ(7, filter_first(table.get(), 5));
    EXPECT_EQ(15, filter_last(table.get(), 5));
    std::vector<double> weights = entry_weights(table, 5);
    EXPECT_EQ(0.0, weights[8]);
    EXPECT_NEAR(weights[1], weights[6], 1e-15);
    EXPECT_NEAR(weights[3], weights[4], 1e-15);
    EXPECT_LT(weights[0], 0.0) << "the outer lobe is negative";
}

TEST(FilterWeights, TriangleInterpolatesLinearly)
{
    Table same = weights_of(0, 4, 4);
    expect_weights({0, 1, 0}, entry_weights(same, 2));
    Table doubled = weights_of(0, 8, 4);
    EXPECT_EQ(1, filter_first(doubled.get(), 3));
    expect_weights({0.75, 0.25, 0}, entry_weights(doubled, 3));
}

TEST(FilterWeights, EmptyDestinationGivesNoTable)
{
    int32_t count = -1;
    EXPECT_EQ(nullptr, filter_weights(1, 0, 10, &count));
    EXPECT_EQ(0, count);
    filter_weights_free(0, nullptr);
}

TEST(FilterWeights, EmptySourceGivesEmptySpans)
{
    Table table = weights_of(1, 3, 0);
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_GT(filter_first(table.get(), i), filter_last(table.get(), i)) << "entry " << i;
}

// Every size class the fast paths distinguish: shrinking and enlarging,
// widths that are not multiples of the vector lengths, one-pixel images, a
// span longer than the source, many-tap spans over rows split into strips,
// and each pixel size.
struct PassCase { int32_t across, along, to, bpp; };
const PassCase pass_cases[] = {
    {37, 29, 11, 4}, {37, 29, 80, 4}, {9, 30, 30, 4}, {5, 301, 7, 4}, {1, 3, 5, 4},
    {13, 17, 6, 3},  {13, 17, 40, 3}, {6, 21, 9, 2},  {11, 8, 23, 1}, {3, 1, 4, 1},
    {7, 9, 1, 4},    {64, 4, 2, 1},   {600, 301, 7, 4},
};

namespace {

// One pass direction: its plain rule, the pass under test, the words that
// name the resized and the untouched dimension, and the first seed.
using PassRule = Pixels (*)(const Pixels&, int32_t across, int32_t along, int32_t to, int32_t bpp);
struct PassDirection { PassRule plain, pass; const char* resized; const char* across; uint32_t seed; };

void expect_every_size_class_exact(const PassDirection& d)
{
    uint32_t seed = d.seed;
    for (const PassCase& c : pass_cases) {
        SCOPED_TRACE(testing::Message() << c.along << " -> " << c.to << " " << d.resized << ", "
                                        << c.across << " " << d.across << ", " << c.bpp << " bytes");
        Pixels source = random_pixels(static_cast<size_t>(c.across) * c.along * c.bpp, seed++);
        const Pixels expected = d.plain(source, c.across, c.along, c.to, c.bpp);
        const Pixels actual = d.pass(source, c.across, c.along, c.to, c.bpp);
        EXPECT_SAME_PIXELS(expected, actual);
    }
}

}  // namespace

TEST(ResamplePasses, RowsMatchThePlainRuleExactly)
{
    expect_every_size_class_exact({plain_rows, rows_pass, "wide", "rows", 1});
}

TEST(ResamplePasses, ColumnsMatchThePlainRuleExactly)
{
    expect_every_size_class_exact({plain_columns, columns_pass, "high", "wide", 100});
}

TEST(ResamplePasses, WideRowsSpanSeveralStripsExactly)
{
    // Rows of 20 000 bytes need several converted strips per source row.
    const int32_t width = 5000, height = 7, to = 16;
    Pixels source = random_pixels(static_cast<size_t>(width) * height * 4, 7);
    EXPECT_SAME_PIXELS(plain_columns(source, width, height, to, 4),
                       columns_pass(source, width, height, to, 4));
}

TEST(ResamplePasses, UnusableArgumentsLeaveTheDestinationUntouched)
{
    Pixels source(64, 9), out(64, 0xEE);
    EXPECT_EQ(0, resample_rows(2, source.data(), 4, out.data(), 4, 5));
    EXPECT_EQ(0, resample_rows(2, source.data(), 4, out.data(), 4, 0));
    EXPECT_EQ(0, resample_rows(2, source.data(), 0, out.data(), 4, 4));
    EXPECT_EQ(0, resample_columns(source.data(), 4, 4, out.data(), 3, 4, 4));
    EXPECT_EQ(0, resample_columns(source.data(), 4, 0, out.data(), 4, 4, 4));
    EXPECT_EQ(0, image_resample(source.data(), 4, 4, out.data(), 4, 4, 7));
    EXPECT_EQ(0, image_resample(source.data(), 4, 4, out.data(), 4, 4, 40));
    EXPECT_EQ(0, image_resample(source.data(), 0, 4, out.data(), 4, 4, 32));
    EXPECT_EQ(1, image_resample(source.data(), 4, 4, out.data(), 0, 4, 32));
    EXPECT_EQ(Pixels(64, 0xEE), out);
}

TEST(ImageResample, UniformImageStaysUniformWhenScaled)
{
    struct Case { int32_t w, h, to_w, to_h, bpp; };
    const Case cases[] = {
        {16, 12, 5, 3, 4}, {16, 12, 40, 31, 4}, {7, 9, 3, 20, 3}, {3, 3, 1, 1, 1},
        {1, 1, 9, 4, 2},   {33, 2, 32, 2, 4},   {101, 55, 10, 99, 4},
    };
    const uint8_t colour[4] = {128, 10, 250, 255};
    for (const Case& c : cases) {
        for (int32_t grey = 0; grey < 2; ++grey) {
            Pixels source(static_cast<size_t>(c.w) * c.h * c.bpp);
            for (size_t i = 0; i < source.size(); ++i)
                source[i] = grey ? 128 : colour[i % c.bpp];
            Pixels out = resampled(source, c.w, c.h, c.to_w, c.to_h, c.bpp);
            for (size_t i = 0; i < out.size(); ++i) {
                uint8_t expected = grey ? 128 : colour[i % c.bpp];
                ASSERT_EQ(expected, out[i]) << c.w << "x" << c.h << " -> " << c.to_w << "x"
                                            << c.to_h << " byte " << i;
            }
        }
    }
}

// The two orders round and limit the intermediate image differently, so on
// a high-contrast image they disagree and the output shows which one ran.
TEST(ImageResample, RunsThePassGivingTheSmallerIntermediateFirst)
{
    struct Case { int32_t w, h, to_w, to_h; bool across_first; };
    const Case cases[] = {
        {4, 4, 2, 2, true},      // tie: 4 x 2 = 8 either way, horizontal first
        {2, 4, 4, 2, false},     // 4 x 4 = 16 across first against 2 x 2 = 4
        {4, 2, 2, 4, true},      // 2 x 2 = 4 against 4 x 4 = 16
        {24, 10, 7, 31, true},
        {10, 24, 31, 7, false},
    };
    uint32_t seed = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " -> " << c.to_w << "x" << c.to_h);
        Pixels source = random_pixels(static_cast<size_t>(c.w) * c.h * 4, seed++);
        for (auto& value : source)
            value = value & 1 ? 255 : 0;
        Pixels across = columns_pass(rows_pass(source, c.h, c.w, c.to_w, 4), c.to_w, c.h, c.to_h, 4);
        Pixels down = rows_pass(columns_pass(source, c.w, c.h, c.to_h, 4), c.to_h, c.w, c.to_w, 4);
        ASSERT_NE(across, down) << "the orders must disagree for the test to tell them apart";
        EXPECT_SAME_PIXELS(c.across_first ? across : down, resampled(source, c.w, c.h, c.to_w, c.to_h, 4));
    }
}
