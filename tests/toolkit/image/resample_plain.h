// The resampling rule written out plainly, shared by the tests and the fuzz
// target: the fast passes must give exactly these bytes.
#pragma once

#include "toolkit/image/image.h"

#include <cstdint>
#include <memory>
#include <vector>

using Pixels = std::vector<uint8_t>;

struct TableDeleter {
    int32_t count;
    void operator()(FilterSpan* table) const { filter_weights_free(count, table); }
};
using Table = std::unique_ptr<FilterSpan, TableDeleter>;

// The weight table; its deleter remembers the entry count.
inline Table weight_table(int32_t cubic, int32_t destination, int32_t source)
{
    int32_t count = -1;
    FilterSpan* table = filter_weights(cubic, destination, source, &count);
    return Table(table, TableDeleter{count});
}

// Each destination pixel's source span: its first source pixel and its
// weights in source order, read once through the accessors.
struct PlainSpan {
    int32_t first;
    std::vector<double> weights;
};

inline std::vector<PlainSpan> plain_spans(int32_t destination, int32_t source)
{
    Table table = weight_table(1, destination, source);
    std::vector<PlainSpan> spans(static_cast<size_t>(destination));
    for (int32_t i = 0; i < destination; ++i) {
        PlainSpan& span = spans[i];
        span.first = filter_first(table.get(), i);
        for (int32_t k = span.first; k <= filter_last(table.get(), i); ++k)
            span.weights.push_back(filter_weight(table.get(), i, k - span.first));
    }
    return spans;
}

// The rule written out plainly: each channel sums weight x byte over its
// span in doubles, then takes sum + 0.5 truncated and limited to 0..255.
inline uint8_t plain_round(double sum)
{
    int32_t value = static_cast<int32_t>(sum + 0.5);
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

inline Pixels plain_rows(const Pixels& source, int32_t rows, int32_t source_width,
                         int32_t destination_width, int32_t bpp)
{
    const std::vector<PlainSpan> spans = plain_spans(destination_width, source_width);
    Pixels out(static_cast<size_t>(rows) * destination_width * bpp);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < destination_width; ++x) {
            const PlainSpan& span = spans[x];
            for (int32_t c = 0; c < bpp; ++c) {
                double sum = 0;
                for (size_t t = 0; t < span.weights.size(); ++t)
                    sum += span.weights[t] *
                           source[(static_cast<size_t>(y) * source_width + span.first + t) * bpp + c];
                out[(static_cast<size_t>(y) * destination_width + x) * bpp + c] = plain_round(sum);
            }
        }
    return out;
}

inline Pixels plain_columns(const Pixels& source, int32_t width, int32_t source_height,
                            int32_t destination_height, int32_t bpp)
{
    const std::vector<PlainSpan> spans = plain_spans(destination_height, source_height);
    size_t row = static_cast<size_t>(width) * bpp;
    Pixels out(row * destination_height);
    for (int32_t y = 0; y < destination_height; ++y) {
        const PlainSpan& span = spans[y];
        for (size_t i = 0; i < row; ++i) {
            double sum = 0;
            for (size_t t = 0; t < span.weights.size(); ++t)
                sum += span.weights[t] * source[(span.first + t) * row + i];
            out[y * row + i] = plain_round(sum);
        }
    }
    return out;
}
