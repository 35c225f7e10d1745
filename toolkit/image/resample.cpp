#include "toolkit/image/image.h"

#include <emmintrin.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

// Every output channel is the sum, in source order and in doubles, of
// weight x source byte over its span, plus 0.5, truncated and limited to
// 0..255. The fast paths below keep exactly that per channel: the SIMD lanes
// run across channels and pixels, never across the terms of one sum, and a
// span's leading and trailing zero weights are dropped (adding 0 x byte leaves
// every sum as it was).

namespace {

constexpr double MITCHELL_B = 1.0 / 3.0;
constexpr double MITCHELL_C = 1.0 / 3.0;
constexpr double CUBIC_RADIUS = 2.0;
constexpr double TRIANGLE_RADIUS = 1.0;

// The vertical pass converts source rows strip by strip; the strips of the
// rows one destination row needs stay within about this many bytes.
constexpr int32_t STRIP_BUDGET_BYTES = 256 * 1024;
constexpr int32_t STRIP_ALIGN = 16;

// Aligned working memory; null when the size does not fit the address space.
void* aligned_block(uint64_t bytes)
{
    return bytes <= SIZE_MAX ? _mm_malloc(static_cast<size_t>(bytes ? bytes : 1), 16) : nullptr;
}

struct CubicCoefficients {
    double near3, near2, near0;              // |x| < 1
    double far3, far2, far1, far0;           // 1 <= |x| < 2
};

CubicCoefficients cubic_coefficients(double b, double c)
{
    return {12 - 9 * b - 6 * c, -18 + 12 * b + 6 * c, 6 - 2 * b,
            -b - 6 * c,         6 * b + 30 * c,       -12 * b - 48 * c, 8 * b + 24 * c};
}

double cubic_filter(const CubicCoefficients& k, double t)
{
    double x = std::fabs(t);
    if (x < 1)
        return (k.near3 * x * x * x + k.near2 * x * x + k.near0) / 6;
    if (x < 2)
        return (k.far3 * x * x * x + k.far2 * x * x + k.far1 * x + k.far0) / 6;
    return 0;
}

double triangle_filter(double t)
{
    double x = std::fabs(t);
    return x < 1 ? 1 - x : 0;
}

void free_entries(FilterSpan* table, int32_t count)
{
    for (int32_t i = 0; i < count; ++i)
        std::free(table[i].weights);
    std::free(table);
}

// Fills one entry from its centre in source coordinates.
void weigh_entry(FilterSpan* span, int32_t cubic, const CubicCoefficients& k, double centre,
                 double width, double factor, double taps, int32_t source)
{
    double first = std::floor(centre - width);
    double last = std::ceil(centre + width);
    if (first < 0)
        first = 0;
    if (last > source - 1)
        last = source - 1;
    if (last - first + 1 > taps) {
        if (first < source)
            first += 1;
        else
            last -= 1;
    }
    span->first = static_cast<int32_t>(first);
    span->last = static_cast<int32_t>(last);
    double sum = 0;
    for (int32_t s = span->first; s <= span->last; ++s) {
        double t = (centre - s) * factor;
        double weight = (cubic ? cubic_filter(k, t) : triangle_filter(t)) * factor;
        span->weights[s - span->first] = weight;
        sum += weight;
    }
    if (sum > 0 && sum != 1)
        for (int32_t s = 0; s <= span->last - span->first; ++s)
            span->weights[s] /= sum;
}

// ---- The table as the passes read it -----------------------------------------

// Spans without their zero ends, weights stored twice in a row so that one
// aligned load gives a weight in both SIMD lanes.
struct PassPlan {
    int32_t count;
    int32_t widest;     // most taps of any entry
    int32_t* first;     // first source index with a non-zero weight
    int32_t* taps;      // number of weights from there
    double* pairs;      // all entries' weights, in entry order
};

void plan_free(PassPlan& plan)
{
    _mm_free(plan.first);
    _mm_free(plan.taps);
    _mm_free(plan.pairs);
}

int32_t plan_fill(PassPlan& plan, const FilterSpan* table)
{
    int64_t total = 0;
    for (int32_t i = 0; i < plan.count; ++i) {
        int32_t lo = 0;
        int32_t hi = table[i].last - table[i].first;
        while (lo <= hi && table[i].weights[lo] == 0)
            ++lo;
        while (hi >= lo && table[i].weights[hi] == 0)
            --hi;
        plan.first[i] = table[i].first + lo;
        plan.taps[i] = hi - lo + 1;
        if (plan.taps[i] > plan.widest)
            plan.widest = plan.taps[i];
        total += plan.taps[i];
    }
    plan.pairs = static_cast<double*>(aligned_block(uint64_t{16} * total));
    if (!plan.pairs)
        return 0;
    double* pair = plan.pairs;
    for (int32_t i = 0; i < plan.count; ++i) {
        const double* weights = table[i].weights + (plan.first[i] - table[i].first);
        for (int32_t t = 0; t < plan.taps[i]; ++t, pair += 2)
            pair[0] = pair[1] = weights[t];
    }
    return 1;
}

// The cubic table for `destination` entries over `source`; 0 when memory is short.
int32_t plan_make(PassPlan& plan, int32_t destination, int32_t source)
{
    plan = PassPlan{destination, 0, nullptr, nullptr, nullptr};
    int32_t count = 0;
    FilterSpan* table = filter_weights(1, destination, source, &count);
    if (!table)
        return 0;
    plan.first = static_cast<int32_t*>(aligned_block(uint64_t{4} * destination));
    plan.taps = static_cast<int32_t*>(aligned_block(uint64_t{4} * destination));
    int32_t filled = plan.first && plan.taps && plan_fill(plan, table);
    filter_weights_free(count, table);
    if (!filled)
        plan_free(plan);
    return filled;
}

// ---- Kernels -------------------------------------------------------------------

// Bytes to doubles, 16 at a time where possible.
void widen_bytes(const uint8_t* in, double* out, int32_t n)
{
    const __m128i zero = _mm_setzero_si128();
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        __m128i halves[2] = {_mm_unpacklo_epi8(bytes, zero), _mm_unpackhi_epi8(bytes, zero)};
        for (int32_t h = 0; h < 2; ++h) {
            __m128i lo = _mm_unpacklo_epi16(halves[h], zero);
            __m128i hi = _mm_unpackhi_epi16(halves[h], zero);
            double* o = out + i + 8 * h;
            _mm_storeu_pd(o + 0, _mm_cvtepi32_pd(lo));
            _mm_storeu_pd(o + 2, _mm_cvtepi32_pd(_mm_shuffle_epi32(lo, 0xEE)));
            _mm_storeu_pd(o + 4, _mm_cvtepi32_pd(hi));
            _mm_storeu_pd(o + 6, _mm_cvtepi32_pd(_mm_shuffle_epi32(hi, 0xEE)));
        }
    }
    for (; i < n; ++i)
        out[i] = in[i];
}

// Four sums (two registers) rounded, limited to 0..255 and packed into the
// low four bytes: truncation of sum + 0.5, then saturation.
inline int32_t round_four(__m128d a, __m128d b)
{
    const __m128d half = _mm_set1_pd(0.5);
    __m128i low = _mm_cvttpd_epi32(_mm_add_pd(a, half));
    __m128i high = _mm_cvttpd_epi32(_mm_add_pd(b, half));
    __m128i words = _mm_packs_epi32(_mm_unpacklo_epi64(low, high), low);
    return _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
}

inline uint8_t round_one(double sum)
{
    int32_t value = static_cast<int32_t>(sum + 0.5);
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// One destination pixel of BPP channels from `taps` consecutive source pixels.
template <int BPP>
inline void filter_pixel(const double* source, const double* pairs, int32_t taps, uint8_t* out)
{
    __m128d a = _mm_setzero_pd();
    __m128d b = _mm_setzero_pd();
    for (int32_t t = 0; t < taps; ++t, source += BPP) {
        __m128d w = _mm_load_pd(pairs + 2 * t);
        if (BPP == 1) {
            a = _mm_add_sd(a, _mm_mul_sd(w, _mm_load_sd(source)));
        } else {
            a = _mm_add_pd(a, _mm_mul_pd(w, _mm_loadu_pd(source)));
            if (BPP == 3)
                b = _mm_add_sd(b, _mm_mul_sd(w, _mm_load_sd(source + 2)));
            if (BPP == 4)
                b = _mm_add_pd(b, _mm_mul_pd(w, _mm_loadu_pd(source + 2)));
        }
    }
    int32_t packed = round_four(a, b);
    std::memcpy(out, &packed, BPP);
}

template <int BPP>
void filter_row(const double* row, uint8_t* out, const PassPlan& plan)
{
    const double* pairs = plan.pairs;
    for (int32_t x = 0; x < plan.count; ++x, out += BPP) {
        filter_pixel<BPP>(row + plan.first[x] * BPP, pairs, plan.taps[x], out);
        pairs += 2 * plan.taps[x];
    }
}

using RowFilter = void (*)(const double*, uint8_t*, const PassPlan&);
constexpr RowFilter row_filters[4] = {filter_row<1>, filter_row<2>, filter_row<3>, filter_row<4>};

// out[c] = sum over t of w[t] x rows[t][c], for n values of a strip.
void filter_strip(const double* const* rows, const double* pairs, int32_t taps, uint8_t* out,
                  int32_t n)
{
    int32_t c = 0;
    for (; c + 8 <= n; c += 8) {
        __m128d a0 = _mm_setzero_pd(), a1 = _mm_setzero_pd();
        __m128d a2 = _mm_setzero_pd(), a3 = _mm_setzero_pd();
        for (int32_t t = 0; t < taps; ++t) {
            __m128d w = _mm_load_pd(pairs + 2 * t);
            const double* r = rows[t] + c;
            a0 = _mm_add_pd(a0, _mm_mul_pd(w, _mm_load_pd(r + 0)));
            a1 = _mm_add_pd(a1, _mm_mul_pd(w, _mm_load_pd(r + 2)));
            a2 = _mm_add_pd(a2, _mm_mul_pd(w, _mm_load_pd(r + 4)));
            a3 = _mm_add_pd(a3, _mm_mul_pd(w, _mm_load_pd(r + 6)));
        }
        int32_t packed[2] = {round_four(a0, a1), round_four(a2, a3)};
        std::memcpy(out + c, packed, 8);
    }
    for (; c < n; ++c) {
        double sum = 0;
        for (int32_t t = 0; t < taps; ++t)
            sum += pairs[2 * t] * rows[t][c];
        out[c] = round_one(sum);
    }
}

// Source rows converted to doubles one strip at a time; a destination row's
// rows are consecutive and never more than `slots`, so row % slots never
// collides within one destination row.
struct RowRing {
    int32_t slots;
    int32_t strip;       // doubles per slot (a multiple of STRIP_ALIGN)
    double* data;
    int32_t* held;       // source row in each slot, -1 for none
    const double** rows; // the current destination row's rows, in tap order
};

int32_t ring_make(RowRing& ring, int32_t slots, int32_t values)
{
    int64_t fit = STRIP_BUDGET_BYTES / (int64_t{8} * slots) / STRIP_ALIGN * STRIP_ALIGN;
    int64_t whole = (int64_t{values} + STRIP_ALIGN - 1) / STRIP_ALIGN * STRIP_ALIGN;
    ring.slots = slots;
    ring.strip = static_cast<int32_t>(fit < STRIP_ALIGN ? STRIP_ALIGN : fit > whole ? whole : fit);
    ring.data = static_cast<double*>(aligned_block(uint64_t{8} * ring.strip * slots));
    ring.held = static_cast<int32_t*>(aligned_block(uint64_t{4} * slots));
    ring.rows = static_cast<const double**>(aligned_block(uint64_t{sizeof(double*)} * slots));
    return ring.data && ring.held && ring.rows;
}

void ring_free(RowRing& ring)
{
    _mm_free(ring.data);
    _mm_free(ring.held);
    _mm_free(ring.rows);
}

// Points ring.rows at rows first .. first+taps-1 of the strip starting at
// `column`, converting those not yet held.
void ring_gather(RowRing& ring, const uint8_t* source, int32_t row_bytes, int32_t column,
                 int32_t length, int32_t first, int32_t taps)
{
    for (int32_t t = 0; t < taps; ++t) {
        int32_t row = first + t;
        int32_t slot = row % ring.slots;
        double* data = ring.data + static_cast<size_t>(slot) * ring.strip;
        if (ring.held[slot] != row) {
            widen_bytes(source + static_cast<size_t>(row) * row_bytes + column, data, length);
            ring.held[slot] = row;
        }
        ring.rows[t] = data;
    }
}

int32_t pixel_size_usable(int32_t bytes_per_pixel)
{
    return bytes_per_pixel >= 1 && bytes_per_pixel <= 4;
}

// A row's bytes must be countable in 32 bits.
int32_t row_fits(int32_t width, int32_t bytes_per_pixel)
{
    return static_cast<int64_t>(width) * bytes_per_pixel <= INT32_MAX;
}

}  // namespace

int32_t dib_row_size(int32_t width, int32_t bits)
{
    switch (bits) {
    case 1: return (width + 31) / 32 * 4;
    case 4: return (width + 7) / 8 * 4;
    case 8: return (width + 3) / 4 * 4;
    case 15:
    case 16: return (width + 1) / 2 * 4;
    case 24: return 3 * (width + 1) / 4 * 4;
    default: return 4 * width;
    }
}

FilterSpan* filter_weights(int32_t cubic, int32_t destination, int32_t source, int32_t* count)
{
    *count = 0;
    if (destination <= 0)
        return nullptr;
    CubicCoefficients k = cubic_coefficients(MITCHELL_B, MITCHELL_C);
    double radius = cubic ? CUBIC_RADIUS : TRIANGLE_RADIUS;
    // An empty source gives every entry an empty span; scale 1 keeps the
    // arithmetic finite.
    double scale = source > 0 ? static_cast<double>(destination) / source : 1.0;
    double width = scale < 1 ? radius / scale : radius;
    double factor = scale < 1 ? scale : 1.0;
    double taps = 2 * std::ceil(width) + 1;
    // No span is longer than the source, which bounds the room each entry needs.
    double room = source > 0 && taps > source ? source : taps;

    auto* table = static_cast<FilterSpan*>(std::calloc(destination, sizeof(FilterSpan)));
    if (!table)
        return nullptr;
    for (int32_t i = 0; i < destination; ++i) {
        table[i].weights = static_cast<double*>(std::calloc(static_cast<size_t>(room), sizeof(double)));
        if (!table[i].weights) {
            free_entries(table, i);
            return nullptr;
        }
        double centre = i / scale + (0.5 / scale - 0.5);
        weigh_entry(&table[i], cubic, k, centre, width, factor, taps, source);
    }
    *count = destination;
    return table;
}

void filter_weights_free(int32_t count, FilterSpan* table)
{
    if (table)
        free_entries(table, count);
}

double filter_weight(const FilterSpan* table, int32_t entry, int32_t position)
{
    return table[entry].weights[position];
}

int32_t filter_first(const FilterSpan* table, int32_t entry)
{
    return table[entry].first;
}

int32_t filter_last(const FilterSpan* table, int32_t entry)
{
    return table[entry].last;
}

int32_t resample_rows(int32_t rows, const uint8_t* source, int32_t source_width,
                      uint8_t* destination, int32_t destination_width, int32_t bytes_per_pixel)
{
    if (!pixel_size_usable(bytes_per_pixel))
        return 0;
    if (rows <= 0 || destination_width <= 0)
        return 1;
    if (source_width <= 0 || !row_fits(source_width, bytes_per_pixel) ||
        !row_fits(destination_width, bytes_per_pixel))
        return 0;
    PassPlan plan;
    if (!plan_make(plan, destination_width, source_width))
        return 0;
    int32_t in_bytes = source_width * bytes_per_pixel;
    int32_t out_bytes = destination_width * bytes_per_pixel;
    auto* row = static_cast<double*>(aligned_block(uint64_t{8} * in_bytes));
    if (row) {
        RowFilter filter = row_filters[bytes_per_pixel - 1];
        for (int32_t y = 0; y < rows; ++y) {
            widen_bytes(source + static_cast<size_t>(y) * in_bytes, row, in_bytes);
            filter(row, destination + static_cast<size_t>(y) * out_bytes, plan);
        }
    }
    _mm_free(row);
    plan_free(plan);
    return row != nullptr;
}

int32_t resample_columns(const uint8_t* source, int32_t width, int32_t source_height,
                         uint8_t* destination, int32_t destination_width,
                         int32_t destination_height, int32_t bytes_per_pixel)
{
    if (!pixel_size_usable(bytes_per_pixel) || width != destination_width)
        return 0;
    if (width <= 0 || destination_height <= 0)
        return 1;
    if (source_height <= 0 || !row_fits(width, bytes_per_pixel))
        return 0;
    PassPlan plan;
    if (!plan_make(plan, destination_height, source_height))
        return 0;
    int32_t row_bytes = width * bytes_per_pixel;
    RowRing ring;
    int32_t made = ring_make(ring, plan.widest > 0 ? plan.widest : 1, row_bytes);
    for (int32_t column = 0; made && column < row_bytes; column += ring.strip) {
        int32_t length = row_bytes - column < ring.strip ? row_bytes - column : ring.strip;
        for (int32_t slot = 0; slot < ring.slots; ++slot)
            ring.held[slot] = -1;
        const double* pairs = plan.pairs;
        for (int32_t y = 0; y < destination_height; ++y) {
            ring_gather(ring, source, row_bytes, column, length, plan.first[y], plan.taps[y]);
            filter_strip(ring.rows, pairs, plan.taps[y],
                         destination + static_cast<size_t>(y) * row_bytes + column, length);
            pairs += 2 * plan.taps[y];
        }
    }
    ring_free(ring);
    plan_free(plan);
    return made;
}

int32_t image_resample(const uint8_t* source, int32_t source_width, int32_t source_height,
                       uint8_t* destination, int32_t destination_width, int32_t destination_height,
                       int32_t bits_per_pixel)
{
    int32_t bytes_per_pixel = bits_per_pixel / 8;
    if (!pixel_size_usable(bytes_per_pixel))
        return 0;
    if (destination_width <= 0 || destination_height <= 0)
        return 1;
    if (source_width <= 0 || source_height <= 0)
        return 0;
    uint64_t size = static_cast<uint64_t>(bytes_per_pixel) * source_height * destination_width;
    if (size > SIZE_MAX)
        return 0;
    auto* middle = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
    if (!middle)
        return 0;
    int32_t done;
    int64_t across_first = static_cast<int64_t>(source_height) * destination_width;
    int64_t down_first = static_cast<int64_t>(source_width) * destination_height;
    if (across_first <= down_first)
        done = resample_rows(source_height, source, source_width, middle, destination_width,
                             bytes_per_pixel) &&
               resample_columns(middle, destination_width, source_height, destination,
                                destination_width, destination_height, bytes_per_pixel);
    else
        done = resample_columns(source, source_width, source_height, middle, source_width,
                                destination_height, bytes_per_pixel) &&
               resample_rows(destination_height, middle, source_width, destination,
                             destination_width, bytes_per_pixel);
    std::free(middle);
    return done;
}
