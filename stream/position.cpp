// Line and column counting for findings, as the check mode reports them.
#include "stream/position.h"

#include <cstring>

LeadRule utf8_lead_rule(uint8_t byte)
{
    if (byte >= 0xC2 && byte <= 0xDF)
        return {1, 0x80, 0xBF};
    if (byte == 0xE0)
        return {2, 0xA0, 0xBF};
    if (byte == 0xED)
        return {2, 0x80, 0x9F};
    if (byte >= 0xE1 && byte <= 0xEF)
        return {2, 0x80, 0xBF};
    if (byte == 0xF0)
        return {3, 0x90, 0xBF};
    if (byte >= 0xF1 && byte <= 0xF3)
        return {3, 0x80, 0xBF};
    if (byte == 0xF4)
        return {3, 0x80, 0x8F};
    return {0, 0, 0};
}

void PositionTracker::advance(const uint8_t* bytes, size_t size)
{
    const uint8_t* end = bytes + size;
    if (encoding_ != TextEncoding::utf8) {
        advance_utf16(bytes, end);
        offset_ += size;
        return;
    }
    // LF is never part of a longer UTF-8 character, so only the bytes after
    // the last LF need decoding.
    const uint8_t* line_start = bytes;
    for (const void* lf; (lf = std::memchr(line_start, '\n', end - line_start));) {
        line_start = static_cast<const uint8_t*>(lf) + 1;
        waiting_ = needed_ = 0;
        start_line(offset_ + (line_start - bytes));
    }
    advance_utf8(line_start, end);
    offset_ += size;
}

TextPosition PositionTracker::next_position() const
{
    return {line_, counted_ + waiting_ + 1, units_ + waiting_ + 1, offset_ - line_start_ + 1,
            offset_};
}

void PositionTracker::start_line(uint64_t offset)
{
    ++line_;
    counted_ = units_ = 0;
    line_start_ = offset;
}

void PositionTracker::take_code_points(uint64_t count, uint64_t utf16_units)
{
    counted_ += count;
    units_ += utf16_units;
}

void PositionTracker::drop_waiting()
{
    take_code_points(waiting_, waiting_);
    waiting_ = needed_ = 0;
}

void PositionTracker::advance_utf8(const uint8_t* p, const uint8_t* end)
{
    while (p < end) {
        uint8_t byte = *p;
        if (needed_) {
            if (byte >= low_ && byte <= high_) {
                ++p;
                ++waiting_;
                low_ = 0x80, high_ = 0xBF;
                if (--needed_ == 0) {
                    // Only the four-byte characters lie above U+FFFF.
                    take_code_points(1, waiting_ == 4 ? 2 : 1);
                    waiting_ = 0;
                }
                continue;
            }
            drop_waiting();  // the byte is looked at again as a start
        }
        ++p;
        LeadRule rule = utf8_lead_rule(byte);
        if (rule.needed == 0) {
            take_code_points(1, 1);  // ASCII, or an invalid byte counting one
            continue;
        }
        waiting_ = 1;
        needed_ = rule.needed;
        low_ = rule.low, high_ = rule.high;
    }
}

void PositionTracker::advance_utf16(const uint8_t* bytes, const uint8_t* end)
{
    for (const uint8_t* p = bytes; p < end; ++p) {
        if (!has_half_) {
            half_ = *p;
            has_half_ = true;
            continue;
        }
        has_half_ = false;
        uint32_t unit = encoding_ == TextEncoding::utf16le ? uint32_t{half_} | uint32_t{*p} << 8
                                                           : uint32_t{half_} << 8 | *p;
        take_unit(unit, offset_ + (p + 1 - bytes));
    }
}

// A surrogate without its partner is two invalid bytes. `after` is the
// offset of the byte after the unit.
void PositionTracker::take_unit(uint32_t unit, uint64_t after)
{
    bool high_surrogate = unit >= 0xD800 && unit <= 0xDBFF;
    bool low_surrogate = unit >= 0xDC00 && unit <= 0xDFFF;
    if (waiting_) {
        waiting_ = 0;
        take_code_points(low_surrogate ? 1 : 2, 2);
        if (low_surrogate)
            return;
    }
    if (high_surrogate)
        waiting_ = 2;
    else if (unit == '\n')
        start_line(after);
    else if (low_surrogate)
        take_code_points(2, 2);
    else
        take_code_points(1, 1);
}
