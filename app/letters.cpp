// The letter fix table and the normalization pass.
#include "app/letters.h"

unit16* work_text;
unit16* saved_text;

const LetterFix letter_fixes[19] = {
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

void normalize_letters()
{
    for (const LetterFix& row : letter_fixes) {
        uint32_t saved_offset = string_offset();
        replace_text(work_text, row.search, row.replacement, saved_offset);
        string_assign(&work_text, saved_offset);
    }
}

int32_t text_changed() { return !string_equal(work_text, saved_text); }
