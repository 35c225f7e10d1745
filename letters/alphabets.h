// Which Cyrillic alphabets a letter belongs to, so that a twin with a
// reading in only some languages is taken only in their words.
#pragma once

#include "letters/unicode_tables.h"

#include <cstddef>
#include <cstdint>

// A set of alphabets, one bit each, in scripts/make-letter-data's order.
using Alphabets = uint8_t;
enum : Alphabets {
    russian = 1,
    ukrainian = 2,
    belarusian = 4,
    bulgarian = 8,
    serbian = 16,
    macedonian = 32,
    turkic = 64,  // Kazakh, Bashkir, Tatar
    every_alphabet = 127,
};
constexpr size_t alphabet_count = 7;

// The alphabets holding a Cyrillic letter in either case; every alphabet for
// a code point outside the Cyrillic blocks or in none of them.
constexpr Alphabets alphabets_of(char32_t code)
{
    return code >= 0x0400 && code - 0x0400 < sizeof cyrillic_alphabets ? cyrillic_alphabets[code - 0x0400]
                                                                      : Alphabets{every_alphabet};
}
