// The names of the Greek capitals of the letter table, in lowercase, in the
// languages whose text quotes them: a capital alone on its line beside its
// name is a Greek letter in a table of letters, not a Cyrillic one.
#pragma once

struct GreekName {
    char32_t capital;
    const char32_t* names[5];
};

inline constexpr GreekName greek_names[] = {
    {U'\u0391', {U"альфа", U"алфа", U"alpha"}},
    {U'\u0392', {U"бета", U"вита", U"beta"}},
    {U'\u0393', {U"гамма", U"гама", U"gamma"}},
    {U'\u0395', {U"эпсилон", U"епсилон", U"epsilon"}},
    {U'\u0397', {U"эта", U"ета", U"ита", U"eta"}},
    {U'\u039A', {U"каппа", U"капа", U"kappa"}},
    {U'\u039B', {U"лямбда", U"ламбда", U"ламда", U"lambda", U"lamda"}},
    {U'\u039C', {U"мю", U"ми", U"mu"}},
    {U'\u039F', {U"омикрон", U"омікрон", U"omicron"}},
    {U'\u03A0', {U"пи", U"пі", U"pi"}},
    {U'\u03A1', {U"ро", U"rho"}},
    {U'\u03A4', {U"тау", U"tau"}},
    {U'\u03A7', {U"хи", U"хі", U"chi"}},
};
