// Images: a registry of numbered images, each owning one native bitmap or
// icon, reading a bitmap's pixels as 32-bit values, and separable cubic
// resampling of packed pixel buffers. Resampling is portable; the registry
// and pixel access speak to Win32.
#pragma once

#include <cstdint>

// ---- Resampling --------------------------------------------------------------
// A packed buffer has no gap between rows; a row is width x bytes-per-pixel
// bytes and each byte is one channel (0..255) filtered on its own.

// One destination pixel's share of the source along one axis.
struct FilterSpan {
    double* weights;  // one per source pixel from first to last
    int32_t first;    // first contributing source index
    int32_t last;     // last contributing source index; first > last: none
};

// Bytes of one bitmap row of `width` pixels at `bits` per pixel, padded to
// the next multiple of 4.
int32_t dib_row_size(int32_t width, int32_t bits);

// The weight table mapping `source` pixels onto `destination` pixels with the
// cubic (1) or triangle (0) filter: one entry per destination pixel, entries
// renormalised to sum 1. *count receives the number of entries. Null (count 0)
// when destination is not positive or memory is short.
FilterSpan* filter_weights(int32_t cubic, int32_t destination, int32_t source, int32_t* count);
// Frees a table from filter_weights; null is ignored.
void filter_weights_free(int32_t count, FilterSpan* table);

// Weight of the entry's position-th source pixel (position 0 is `first`).
double filter_weight(const FilterSpan* table, int32_t entry, int32_t position);
// First and last contributing source index of an entry.
int32_t filter_first(const FilterSpan* table, int32_t entry);
int32_t filter_last(const FilterSpan* table, int32_t entry);

// Horizontal pass: each of `rows` rows from source_width to destination_width
// pixels. 1 on success (an empty destination counts); 0, the destination
// untouched, for a pixel size outside 1..4 bytes, an empty source, or when
// working memory is short.
int32_t resample_rows(int32_t rows, const uint8_t* source, int32_t source_width,
                      uint8_t* destination, int32_t destination_width, int32_t bytes_per_pixel);
// Vertical pass: every column of a `width`-pixel image from source_height to
// destination_height rows; destination_width must equal width. Results as
// resample_rows.
int32_t resample_columns(const uint8_t* source, int32_t width, int32_t source_height,
                         uint8_t* destination, int32_t destination_width,
                         int32_t destination_height, int32_t bytes_per_pixel);

// Scales a packed image in two passes, the one giving the smaller
// intermediate image first (horizontal first on a tie). 1 on success (an
// empty destination counts); 0 when memory is short, the source is empty or
// the pixel size is not 8 to 39 bits.
int32_t image_resample(const uint8_t* source, int32_t source_width, int32_t source_height,
                       uint8_t* destination, int32_t destination_width, int32_t destination_height,
                       int32_t bits_per_pixel);

#ifdef _WIN32
#include <windows.h>

#include "runtime/objects/objects.h"

// ---- Image registry (Win32) ---------------------------------------------------

// The record of the image list; a non-null handle means the image exists.
struct ImageRecord {
    HANDLE handle;  // HBITMAP or HICON
};

extern ObjectList* image_list;

// Creates the image list; the main heap must exist. 1 when it could be had.
int32_t images_init();
// Releases every image still registered.
void images_end();
// Releases image `number` (-1: every image): a bitmap with DeleteObject, any
// other handle with DestroyIcon. 1 when an image was released, else 0.
int32_t image_free(intptr_t number);

// The bitmap's pixels: a DIB section's own bits (*must_free = 0, its own format
// and row order), or a main-heap copy as 32-bit values, rows top-down
// (*must_free = 1; release with heap_free on main_heap). Null on failure, and
// for a brush, pen, font or any other object that is no bitmap.
void* bitmap_get_pixels(HBITMAP bitmap, int32_t* must_free);
#endif
