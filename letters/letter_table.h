// The nineteen look-alike repairs: the one table that both the window
// program's pass and the command-line repairer apply. Plain data with no
// runtime behind it, so any program can include it.
#pragma once

// One repair: every occurrence of search becomes replacement. The units are
// char16_t, the runtime's unit16.
struct LetterFix {
    const char16_t* search;       // 1 or 2 code units, never empty
    const char16_t* replacement;  // exactly 1 code unit
};

// Applied in this order. No replacement, alone or with the unit after it,
// forms a search string, so rows never feed one another.
inline constexpr LetterFix letter_fixes[19] = {
    {u"\u0438\u0306", u"\u0439"},  // и + combining breve -> й
    {u"\u0435\u0308", u"\u0451"},  // е + combining diaeresis -> ё
    {u"\u0418\u0306", u"\u0419"},  // И + combining breve -> Й
    {u"\u0391", u"\u0410"},        // Greek Alpha -> А
    {u"\u0392", u"\u0412"},        // Greek Beta -> В
    {u"\u0393", u"\u0413"},        // Greek Gamma -> Г
    {u"\u0395", u"\u0415"},        // Greek Epsilon -> Е
    {u"\u0397", u"\u041D"},        // Greek Eta -> Н
    {u"\u039A", u"\u041A"},        // Greek Kappa -> К
    {u"\u039B", u"\u041B"},        // Greek Lamda -> Л
    {u"\u039F", u"\u041E"},        // Greek Omicron -> О
    {u"\u03A0", u"\u041F"},        // Greek Pi -> П
    {u"\u03A1", u"\u0420"},        // Greek Rho -> Р
    {u"\u03A4", u"\u0422"},        // Greek Tau -> Т
    {u"\u03A7", u"\u0425"},        // Greek Chi -> Х
    {u"\u039C", u"\u041C"},        // Greek Mu -> М
    {u"\u0138", u"\u043A"},        // Latin kra -> к
    {u"\u1D0F", u"\u043E"},        // Latin small capital O -> о
    {u"\u0299", u"\u0432"},        // Latin small capital B -> в
};
