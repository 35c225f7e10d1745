// Text runtime: zero-terminated UTF-16 strings, string variables, the
// temporary string area through which every string-returning operation
// passes its result, and substring replacement.
//
// The offset protocol, the one way to receive a string:
//   uint32_t saved = string_offset();
//   some_operation(..., saved);          // leaves its result at base + saved
//   string_assign(&variable, saved);     // moves it out, offset back to saved
#pragma once

#include "platform/platform.h"

#include <cstdint>

// The private heap of the area's buffer and of every string variable.
extern HeapHandle string_heap;

// The one growable buffer in which string-returning operations leave results.
// Used part: [base, base + current_offset); a result's terminating zero lies
// at base + current_offset.
struct TempStringArea {
    char* base;              // start of the buffer; moves when it grows
    uint32_t current_offset; // bytes; the next result is written here
    int32_t capacity;        // bytes; growth is decided against it
};
extern TempStringArea string_area;

// The area's current offset in bytes: the "saved offset" of the protocol.
uint32_t string_offset();

// Creates the string heap and a 16-byte buffer (offset 0, capacity 16).
// 1 when both could be had, 0 when memory ran short.
int32_t string_area_init();
// Frees the buffer, then destroys the string heap with every variable's block.
void string_area_end();

// Makes room for length_units code units plus a terminating zero at
// offset_bytes, sets the current offset to offset_bytes + 2 * length_units and
// returns where to write. Null when the area cannot grow: the buffer is kept
// and the result at offset_bytes is then the empty string.
unit16* string_reserve(uint32_t length_units, uint32_t offset_bytes);
// Gives back an unfilled tail: lowers the current offset by 2 * length_units
// (never below 0).
void string_pop(uint32_t length_units);
// Moves the string from base + saved_offset up to the current offset into
// *variable (a block of 2 * length + 10 bytes) and sets the offset back to
// saved_offset. 1 when done; 0 when no block can be had, and *variable then
// keeps its old string.
int32_t string_assign(unit16** variable, uint32_t saved_offset);
// Temporary result: appends a copy of s (null: the empty string) at the
// current offset. 0 when the area cannot grow: nothing is appended.
int32_t string_push_copy(const unit16* s);

// 1 when both strings hold the same code units (null reads as empty), else 0.
int32_t string_equal(const unit16* a, const unit16* b);
// (address - base) + 1 when address lies in [base, base + current offset],
// else 0.
uint32_t string_in_area(const void* address);
// Copies length_units code units and writes a terminating zero at
// dst[length_units]; dst needs room for length_units + 1 units.
void string_copy_chars(unit16* dst, const unit16* src, uint32_t length_units);
// Stores in *variable a new block holding a copy of s, without releasing what
// *variable held. Null s, or no memory: *variable stays as it was.
void string_new_copy(unit16** variable, const unit16* s);
// Returns a variable's block (may be null) to the string heap.
void string_free(unit16* block);

enum : uint32_t { REPLACE_NOCASE = 1, REPLACE_INPLACE = 2 };

// Temporary result: text with every occurrence of search replaced, exact
// comparison, from the first character; left at offset in the area. 0 when
// memory ran short: the result is then the empty string.
int32_t replace_text(const unit16* text, const unit16* search, const unit16* replacement,
                     uint32_t offset);
// Temporary result unless REPLACE_INPLACE: replaces up to count occurrences
// (-1 all) from the 1-based position start. In place, text is rewritten where
// it stands and only when search and replacement have the same length. 0 as
// above; in place never.
int32_t replace_text(const unit16* text, const unit16* search, const unit16* replacement,
                     uint32_t mode, int32_t start, int32_t count, uint32_t offset);
