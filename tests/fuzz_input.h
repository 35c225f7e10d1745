// Reads a fuzzer's bytes as a sequence of small decisions. Past the end of
// the input every read gives 0, so any input, the empty one included, is a
// complete and valid case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    // One byte decides bounds up to 256, two bytes larger ones.
    uint32_t below(uint32_t bound)
    {
        uint32_t value = byte();
        if (bound > 256)
            value = value << 8 | byte();
        return value % bound;
    }
    bool flag() { return byte() & 1; }
    bool exhausted() const { return at_ >= size_; }

    // Up to max_length units, mostly from the alphabet (so that patterns
    // recur), sometimes any non-zero unit. Never more units than the input
    // has bytes left: past its end they would all be the same, and a long
    // text of them costs time without trying anything new.
    std::u16string units(size_t max_length, std::u16string_view alphabet)
    {
        size_t length = below(static_cast<uint32_t>(max_length) + 1);
        if (length > size_ - at_)
            length = size_ - at_;
        std::u16string text(length, u'\0');
        for (char16_t& unit : text) {
            uint32_t pick = below(static_cast<uint32_t>(alphabet.size()) + 1);
            unit = pick < alphabet.size() ? alphabet[pick] : any_unit();
        }
        return text;
    }

private:
    char16_t any_unit()
    {
        char16_t unit = static_cast<char16_t>(byte() << 8 | byte());
        return unit ? unit : u'\x1';
    }

    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};
