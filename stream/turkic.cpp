// The reading of y comes from what Kazakh text shows: у stands beside
// vowels (ау, уа), ends words (the verbal noun: алу, келу) and sits in later
// syllables (өзгертуге); ү is a first syllable's vowel in a word of front
// vowels (күн, түсті, үлкен). Loanwords keep у wherever it stands.
#include "stream/turkic.h"

#include "letters/twins.h"

#include <string_view>

namespace {

bool is_among(char32_t code, std::u32string_view letters)
{
    return letters.find(code) != std::u32string_view::npos;
}

bool is_vowel(char32_t code) { return is_among(code, U"аәеёиіоөуұүыэюя"); }
bool is_front_vowel(char32_t code) { return is_among(code, U"әеіөү"); }
bool is_back_vowel(char32_t code) { return is_among(code, U"аоұы"); }

// Letters that native words do not have: their word is a loanword.
bool is_foreign(char32_t code) { return is_among(code, U"фвцчщьъёэ"); }

char32_t lowercase(char32_t code)
{
    if (code >= 0x0410 && code <= 0x042F)
        return code + 0x20;
    if (code >= 0x0400 && code <= 0x040F)
        return code + 0x50;
    // Beyond the basic letters each capital comes right before its small
    // letter.
    bool paired = (code >= 0x0460 && code <= 0x0481) || (code >= 0x048A && code <= 0x04BF) ||
                  (code >= 0x04D0 && code <= 0x052F);
    return paired && code % 2 == 0 ? code + 1 : code;
}

// A letter as the word's sounds go: Cyrillic in lowercase; a twin as its
// Turkic letter, except another y, which is some vowel.
char32_t sound_of(char32_t code)
{
    if (code == 'y' || code == 'Y')
        return U'\u0443';
    for (const Twin& twin : twins) {
        if (twin.twin == code && (twin.alphabets & turkic))
            return lowercase(twin.letter);
    }
    return lowercase(code);
}

// Whether the word's vowels other than the one `at` are front ones alone.
bool is_front_word(const std::u32string& word, size_t at)
{
    bool front = false;
    for (size_t i = 0; i < word.size(); ++i) {
        if (i != at && is_back_vowel(word[i]))
            return false;
        front = front || (i != at && is_front_vowel(word[i]));
    }
    return front;
}

// The first syllable's vowel follows the next vowel that has a harmony;
// else the front or back k and g; else a word with no other vowel but the
// verbal noun's у (күн, үзу) has ү.
bool first_syllable_is_front(const std::u32string& word, size_t at)
{
    for (size_t i = at + 1; i < word.size(); ++i) {
        if (is_front_vowel(word[i]) || is_back_vowel(word[i]))
            return is_front_vowel(word[i]);
    }
    if (word.find_first_of(U"кг") != std::u32string::npos)
        return true;
    if (word.find_first_of(U"қғ") != std::u32string::npos)
        return false;
    for (size_t i = at + 1; i < word.size(); ++i) {
        if (is_vowel(word[i]) && word[i] != U'\u0443')
            return false;
    }
    return true;
}

}  // namespace

bool reads_as_straight_u(std::u32string_view letters, size_t at)
{
    std::u32string word;
    for (char32_t letter : letters)
        word += sound_of(letter);
    char32_t before = at ? word[at - 1] : 0, after = at + 1 < word.size() ? word[at + 1] : 0;
    if (!after || is_vowel(before) || is_vowel(after))
        return false;
    for (size_t i = 0; i < at; ++i) {
        if (!is_vowel(word[i]))
            continue;
        // In a later syllable у is the verbal noun's before a suffix
        // (өзгертуге). No suffix starts with р or з, so there the y is a
        // second root's vowel (дәстүрлі, мәжбүр), ү in a front word.
        return (after == U'\u0440' || after == U'\u0437') && is_front_word(word, at);
    }
    // Native words start with one consonant at most and hold no letter of
    // loanwords: студент and функция keep у.
    if (at >= 2)
        return false;
    for (char32_t letter : word) {
        if (is_foreign(letter))
            return false;
    }
    return first_syllable_is_front(word, at);
}
