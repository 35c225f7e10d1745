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
    if (encoding_ != TextEncoding::utf8) {
        advance_utf16(bytes, bytes + size);
        return;
    }
    // LF is never part of a longer UTF-8 character, so only the bytes after
    // the last LF need decoding.
    const uint8_t* end = bytes + size;
    const uint8_t* line_start = bytes;
    for (const void* lf; (lf = std::memchr(line_start, '\n', end - line_start));) {
        line_start = static_cast<const uint8_t*>(lf) + 1;
        ++line_;
        counted_ = 0;
        waiting_ = needed_ = 0;
    }
    advance_utf8(line_start, end);
}

uint64_t PositionTracker::next_column() const { return counted_ + waiting_ + 1; }

void PositionTracker::drop_waiting()
{
    counted_ += waiting_;
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
                    ++counted_;
                    waiting_ = 0;
                }
                continue;
            }
            drop_waiting();  // the byte is looked at again as a start
        }
        ++p;
        LeadRule rule = utf8_lead_rule(byte);
        if (rule.needed == 0) {
            ++counted_;  // ASCII, or an invalid byte counting one
            continue;
        }
        waiting_ = 1;
        needed_ = rule.needed;
        low_ = rule.low, high_ = rule.high;
    }
}

void PositionTracker::advance_utf16(const uint8_t* p, const uint8_t* end)
{
    for (; p < end; ++p) {
        if (!has_half_) {
            half_ = *p;
            has_half_ = true;
            continue;
        }
        has_half_ = false;
        take_unit(encoding_ == TextEncoding::utf16le ? uint32_t{half_} | uint32_t{*p} << 8
                                                     : uint32_t{half_} << 8 | *p);
    }
}

// A surrogate without its partner is two invalid bytes.
void PositionTracker::take_unit(uint32_t unit)
{
    bool high_surrogate = unit >= 0xD800 && unit <= 0xDBFF;
    bool low_surrogate = unit >= 0xDC00 && unit <= 0xDFFF;
    if (waiting_) {
        waiting_ = 0;
        counted_ += low_surrogate ? 1 : 2;
        if (low_surrogate)
            return;
    }
    if (high_surrogate) {
        waiting_ = 2;
    } else if (unit == '\n') {
        ++line_;
        counted_ = 0;
    } else {
        counted_ += low_surrogate ? 2 : 1;
    }
}
