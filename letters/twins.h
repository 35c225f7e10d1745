// The twins of the word rule: Latin and Greek letters that stand for a
// Cyrillic one inside a Cyrillic word. Hand-picked: each has one Cyrillic
// reading, or two that the word's other letters tell apart.
#pragma once

#include "letters/alphabets.h"

struct Twin {
    char32_t twin;
    char32_t letter;
    // The alphabets the letter belongs to: the twin becomes it only in a
    // word whose Cyrillic letters fit one of them.
    Alphabets alphabets;
    // Only in a word whose letters fit these alphabets alone: Latin s ends
    // up in too many words of other languages (SEКОР) to be read as ѕ in a
    // word that Russian or Serbian could hold as well.
    bool only_when_clear = false;
};

// A twin with two readings has the narrower one first: it is taken when the
// word's letters fit only its alphabets, the wider one otherwise. Latin y,
// whose two readings Kazakh both has, is read there by the word's sounds.
inline constexpr Twin twins[] = {
    {U'A', U'\u0410', every_alphabet}, {U'B', U'\u0412', every_alphabet},
    {U'C', U'\u0421', every_alphabet}, {U'E', U'\u0415', every_alphabet},
    {U'H', U'\u041D', every_alphabet}, {U'K', U'\u041A', every_alphabet},
    {U'M', U'\u041C', every_alphabet}, {U'O', U'\u041E', every_alphabet},
    {U'P', U'\u0420', every_alphabet}, {U'T', U'\u0422', every_alphabet},
    {U'X', U'\u0425', every_alphabet}, {U'Y', U'\u04AE', turkic},
    {U'Y', U'\u0423', every_alphabet}, {U'a', U'\u0430', every_alphabet},
    {U'c', U'\u0441', every_alphabet}, {U'e', U'\u0435', every_alphabet},
    {U'o', U'\u043E', every_alphabet}, {U'p', U'\u0440', every_alphabet},
    {U'x', U'\u0445', every_alphabet}, {U'y', U'\u04AF', turkic},
    {U'y', U'\u0443', every_alphabet}, {U'\u03BF', U'\u043E', every_alphabet},
    // Ukrainian and Belarusian
    {U'I', U'\u0406', ukrainian | belarusian | turkic},
    {U'i', U'\u0456', ukrainian | belarusian | turkic},
    {U'\u00CF', U'\u0407', ukrainian}, {U'\u00EF', U'\u0457', ukrainian},
    {U'\u016D', U'\u045E', belarusian},
    // Serbian and Macedonian
    {U'J', U'\u0408', serbian | macedonian}, {U'j', U'\u0458', serbian | macedonian},
    {U'S', U'\u0405', macedonian, true}, {U's', U'\u0455', macedonian, true},
    // Kazakh, Bashkir, Tatar: capital H stays the twin of Н
    {U'h', U'\u04BB', turkic},
    {U'\u018F', U'\u04D8', turkic}, {U'\u0259', U'\u04D9', turkic},
    {U'\u019F', U'\u04E8', turkic}, {U'\u0275', U'\u04E9', turkic},
};
