// Where the next byte of a text lies, as TextPosition counts it: lines end
// at LF; columns count code points, UTF-16 units and bytes, each byte that
// is not valid in the encoding as one. The caller keeps a BOM away from it,
// so that no column counts it, and names its size for the byte offset.
#pragma once

#include "stream/stream.h"

#include <cstddef>
#include <cstdint>

struct LeadRule {
    uint32_t needed;  // continuation bytes after the lead; 0: invalid as a lead
    uint8_t low;      // range of the first continuation byte
    uint8_t high;
};

// What a UTF-8 lead byte asks of the bytes after it in well-formed UTF-8:
// no overlong forms, no encoded surrogates, nothing above U+10FFFF.
LeadRule utf8_lead_rule(uint8_t byte);

class PositionTracker {
public:
    PositionTracker(TextEncoding encoding, size_t bom)
        : encoding_(encoding), offset_(bom), line_start_(bom)
    {
    }

    // Counts the bytes in; a character cut at the end waits for the rest.
    void advance(const uint8_t* bytes, size_t size);

    uint64_t line() const { return line_; }
    // The position of a valid character that starts at the next byte. Bytes
    // still waiting for the rest of their character cannot be completed by
    // it, so each of them counts one.
    TextPosition next_position() const;

private:
    void advance_utf8(const uint8_t* bytes, const uint8_t* end);
    const uint8_t* count_common_characters(const uint8_t* p, const uint8_t* end);
    void advance_utf16(const uint8_t* bytes, const uint8_t* end);
    const uint8_t* after_last_utf16_line_end(const uint8_t* p, const uint8_t* end, bool big_endian,
                                             const uint8_t* bytes);
    void take_unit(uint32_t unit, uint64_t after);
    void drop_waiting();
    void take_code_points(uint64_t count, uint64_t utf16_units);
    void start_line(uint64_t offset);

    TextEncoding encoding_;
    uint64_t offset_;      // bytes counted so far, the BOM included
    uint64_t line_start_;  // the offset where this line's first byte lies
    uint64_t line_ = 1;
    uint64_t counted_ = 0;  // code points and invalid bytes so far in this line
    uint64_t units_ = 0;    // the same, in UTF-16 units
    uint32_t waiting_ = 0;  // bytes of a character not yet complete
    // UTF-8: bytes the waiting character still needs, and the range the next
    // of them must lie in (a tighter one after E0, ED, F0 and F4).
    uint32_t needed_ = 0;
    uint8_t low_ = 0x80;
    uint8_t high_ = 0xBF;
    // UTF-16: the first byte of a unit.
    uint8_t half_ = 0;
    bool has_half_ = false;
};
