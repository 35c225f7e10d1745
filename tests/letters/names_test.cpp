// Every character a repair or a twin involves is reported by its name: the
// names are generated, so a row or twin added without running the generator
// again shows up here.
#include "letters/names.h"
#include "letters/repairs.h"
#include "letters/twins.h"

#include <gtest/gtest.h>

#include <vector>

TEST(CharacterNames, NameEveryCharacterThatCanBeReported)
{
    std::vector<char32_t> reported;
    for (const LetterFix& fix : repairs) {
        for (const char16_t* unit = fix.search; *unit; ++unit)
            reported.push_back(*unit);
        reported.push_back(fix.replacement[0]);
    }
    for (const Twin& twin : twins)
        reported.insert(reported.end(), {twin.twin, twin.letter});
    for (char32_t code : reported)
        EXPECT_NE(character_name(code), nullptr) << "U+" << std::hex << unsigned(code);
    EXPECT_STREQ(character_name(U'\u0401'), "CYRILLIC CAPITAL LETTER IO");
    EXPECT_EQ(character_name(U'\u0444'), nullptr);
}
