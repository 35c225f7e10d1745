// Both resampling passes and image_resample against the plain rule, on
// fuzzer-chosen sizes and pixels: every size class the fast paths tell
// apart, at every pixel size, byte for byte.
#include "resample_plain.h"
#include "tests/fuzz_input.h"

#include <cstdlib>

namespace {

struct Shape {
    int32_t width, height, to_width, to_height, bpp;
};

// Pixels from the input, repeated when it runs short.
Pixels pixels_from(FuzzInput& in, size_t size)
{
    Pixels pixels(size);
    uint8_t seed = in.byte();
    for (size_t i = 0; i < size; ++i)
        pixels[i] = in.flag() ? in.byte() : static_cast<uint8_t>(seed + i * 37);
    return pixels;
}

// The order image_resample takes: the smaller intermediate first,
// horizontal on a tie.
Pixels plain_resample(const Pixels& source, const Shape& s)
{
    if (int64_t{s.to_width} * s.height <= int64_t{s.width} * s.to_height)
        return plain_columns(plain_rows(source, s.height, s.width, s.to_width, s.bpp),
                             s.to_width, s.height, s.to_height, s.bpp);
    return plain_rows(plain_columns(source, s.width, s.height, s.to_height, s.bpp), s.to_height,
                      s.width, s.to_width, s.bpp);
}

void expect_same(const Pixels& expected, const Pixels& actual, int32_t result)
{
    if (result != 1 || expected != actual)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    Shape s;
    // Mostly small images: every block and tail size of the passes, shrinking,
    // enlarging and the tie already show there, and they keep the fuzzer fast.
    // One case in thirty-two takes rows wide enough for several strips, which
    // also needs a tall source shrunk hard (many rows per destination row);
    // its destination stays tiny, since that case costs the most.
    const bool strips = in.below(32) == 31;
    s.width = 1 + static_cast<int32_t>(in.below(strips ? 128 : 12));
    s.height = 1 + static_cast<int32_t>(in.below(strips ? 48 : 12));
    s.to_width = static_cast<int32_t>(in.below(strips ? 4 : 20));
    s.to_height = static_cast<int32_t>(in.below(strips ? 4 : 20));
    s.bpp = 1 + static_cast<int32_t>(in.below(4));
    const Pixels source = pixels_from(in, static_cast<size_t>(s.width) * s.height * s.bpp);
    const size_t row = static_cast<size_t>(s.bpp);

    Pixels rows(row * s.to_width * s.height);
    int32_t result = resample_rows(s.height, source.data(), s.width, rows.data(), s.to_width, s.bpp);
    expect_same(plain_rows(source, s.height, s.width, s.to_width, s.bpp), rows, result);

    Pixels columns(row * s.width * s.to_height);
    result = resample_columns(source.data(), s.width, s.height, columns.data(), s.width,
                              s.to_height, s.bpp);
    expect_same(plain_columns(source, s.width, s.height, s.to_height, s.bpp), columns, result);

    Pixels both(row * s.to_width * s.to_height);
    result = image_resample(source.data(), s.width, s.height, both.data(), s.to_width,
                            s.to_height, 8 * s.bpp);
    expect_same(plain_resample(source, s), both, result);
    return 0;
}
