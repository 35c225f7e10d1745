// The word rule on the cases that pin it, and on text built from a Russian
// dictionary: damaged words come back exactly, undamaged mixed text stays.
#include "stream/stream.h"
#include "stream/words.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

// The text through the stream in pieces of `piece` bytes.
std::string repaired(const std::string& text, bool words, size_t piece, bool* changed = nullptr)
{
    RepairStream stream(nullptr, words);
    std::string out;
    for (size_t at = 0; at <= text.size(); at += piece) {
        size_t size = std::min(piece, text.size() - at);
        std::memcpy(stream.input_area(), text.data() + at, size);
        ByteSpan final = stream.repair(size, at + piece > text.size());
        out.append(reinterpret_cast<const char*>(final.data), final.size);
    }
    if (changed)
        *changed = stream.changed();
    return out;
}

std::string utf16le(const std::u16string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text)
        bytes += char(unit & 0xFF), bytes += char(unit >> 8);
    return bytes;
}

struct WordCase {
    const char* input;
    const char* output;
    const char* without = nullptr;  // without the rule, when not the input
};

const WordCase word_cases[] = {
    {"Cлово", "Слово"},
    {"Aнна мaмa", "Анна мама"},                // the lowest ASCII twin first
    {"XOPOШO", "ХОРОШО"},
    {"пpивeт", "привет"},
    {"iPhoneы", "iPhoneы"},
    {"Wi-Fi", "Wi-Fi"},
    {"3aяц", "3aяц"},                          // after a digit: code
    {"мoй\u0301", "мой\u0301"},
    {"Coca-Колa", "Coca-Кола"},
    {"\u03BFкн\u03BF", "окно"},
    {"Coca", "Coca"},                          // no Cyrillic letter
    {"a quote in Latin words, then Дo", "a quote in Latin words, then До"},
    {"\u0391\u03BFрта", "Аорта", "А\u03BFрта"},  // a Greek capital counts once the rows made it Cyrillic
    {"пe\u0308с", "пёс"},                      // the twin e and its diaeresis make ё
    {"к\u0483a", "к\u0483а"},                  // a Cyrillic mark is no letter, but in the word
    {"a\u0482я", "a\u0482я"},                  // U+0482 is a sign, so "a" stands alone
    {"Cлово\xFFo\xD0", "Слово\xFFo\xD0"},     // an invalid byte ends a word
    // Glued to code, a word keeps its letters; damage beside the signs is
    // still repaired.
    {"%%0AДержатель %cбудут -cТЕГ [-Oрівень] ^[ДдYy] \\xНН 0xАДРЕСА",
     "%%0AДержатель %cбудут -cТЕГ [-Oрівень] ^[ДдYy] \\xНН 0xАДРЕСА"},
    {"$Cлово @Cлово &Cлово Cлово( Cлово_ Cлово= Cлово2", "$Cлово @Cлово &Cлово Cлово( Cлово_ Cлово= Cлово2"},
    {"HTTPЗапрос COMОбъект МетодHTTP ПозицияX БройA xmlПарсер pБРВ ПРЕФИКСaa XXв. XIXв. Xвв. IСвободно cCсС %-*sФа",
     "HTTPЗапрос COMОбъект МетодHTTP ПозицияX БройA xmlПарсер pБРВ ПРЕФИКСaa XXв. XIXв. Xвв. IСвободно cCсС %-*sФа"},
    {"кое-чтo 64-битнoй [Cсылка] MOм BУЗа CCCР кBт мкA -- Cлово", "кое-что 64-битной [Ссылка] МОм ВУЗа СССР кВт мкА -- Слово"},
    // Twins of the other Cyrillic languages, where the word's letters allow them.
    {"мiсто Iван Замiсть їжaк", "місто Іван Замість їжак"},
    {"праŭда", "праўда"},
    {"jош Jован sвезђа sвезда ѓsx шаhар əке ɵнер мyз Yзел", "још Јован sвезђа sвезда ѓѕх шаһар әке өнер муз Узел"},
    // y is ү or у in Kazakh by the word's sounds, once its letters or the
    // text before show Kazakh; twins Russian lacks stay in Russian text.
    {"Yлкен қыy; Бұл кyн тyс сақтаy қyат кеңейтyлер дәстyрлі стyдент",
     "Улкен қыу; Бұл күн түс сақтау қуат кеңейтулер дәстүрлі студент"},
    {"Это ток цепи Iмакс, и мало Iнодов", "Это ток цепи Iмакс, и мало Iнодов"},
    {"объjект sъезд Прикладиs Додајеs", "объjект sъезд Прикладиs Додајеs"},
    // Greek stays Greek, in both modes; Greek capitals in Cyrillic text do not.
    {"греч. ΛΟΓΟΣ, город ΑΘΗΝΑ λόγος", "греч. ΛΟΓΟΣ, город ΑΘΗΝΑ λόγος", "греч. ΛΟΓΟΣ, город ΑΘΗΝΑ λόγος"},
    {"ΑΒΓ: Ηовый\nкот ΤΟ\nΑ\n", "АВГ: Новый\nкот ТО\nА\n", "АВГ: Новый\nкот ТО\nА\n"},
    {"Α\tальфа\nальфа\tΑ\nx\tΒ\t\nΒ — бета\nГамма: Γ\nΤΟ ΚΑΛΟ ΣΠΙΤΙ",
     "Α\tальфа\nальфа\tΑ\nx\tΒ\t\nΒ — бета\nГамма: Γ\nΤΟ ΚΑΛΟ ΣΠΙΤΙ",
     "Α\tальфа\nальфа\tΑ\nx\tΒ\t\nΒ — бета\nГамма: Γ\nΤΟ ΚΑΛΟ ΣΠΙΤΙ"},
    {"Β Москве Ε\u0308лка", "В Москве Ёлка", "В Москве Ёлка"},
    // Text set in capitals: every capital of a Cyrillic word, wherever it stands.
    {"ΧΑБΑΡΟВСК и ВΑС, ΗΑШ", "ХАБАРОВСК и ВАС, НАШ", "ХАБАРОВСК и ВАС, НАШ"},
    {"πΟрта Ορτα Οртаπ Οрта Οрганизаπия", "πΟрта Ορτα Οртаπ Орта Οрганизаπия", "πΟрта Ορτα Οртаπ Орта Οрганизаπия"},
    // What lies next to the word counts, read from it outwards.
    {"\tx Β\tz\nкот λόγος Β дом\nбета альфа Α\nΑ альфа бета", "\tx В\tz\nкот λόγος Β дом\nбета альфа А\nА альфа бета",
     "\tx В\tz\nкот λόγος Β дом\nбета альфа А\nА альфа бета"},
};

TEST(WordRule, RepairsTheCasesOfTheRuleWholeAndCutIntoBytes)
{
    for (const WordCase& c : word_cases) {
        for (size_t piece : {size_t(1), RepairStream::piece_size}) {
            EXPECT_EQ(repaired(c.input, true, piece), c.output) << c.input << " in pieces of " << piece;
        }
        EXPECT_EQ(repaired(c.input, false, RepairStream::piece_size), c.without ? c.without : c.input)
            << c.input << " without the rule";
    }
}

// The text before a word tells its language as far as the reach: a
// letter wholly within it counts, one a byte further does not.
TEST(WordRule, ReadsYByTheLettersWithinTheReachBeforeItsWord)
{
    for (size_t gap : {WordStage::context_reach - 2, WordStage::context_reach - 1}) {
        const std::string before = "\u04D9" + std::string(gap, ' ');
        const std::string expected = before + (gap + 2 == WordStage::context_reach ? "к\u04AFн" : "кун");
        for (size_t piece : {size_t(1), RepairStream::piece_size})
            EXPECT_EQ(repaired(before + "кyн", true, piece), expected) << gap << " in pieces of " << piece;
    }
}

std::string utf16be(const std::u16string& text)
{
    std::string bytes = "\xFE\xFF";
    for (char16_t unit : text)
        bytes += char(unit >> 8), bytes += char(unit & 0xFF);
    return bytes;
}

// The twins lie past the first vector's reach as well as within it.
TEST(WordRule, RepairsUtf16WordsInTheirOwnEncoding)
{
    const std::u16string damaged = u"Cлово Wi-Fi мiсто ΑΒΓ: Ηовый ΛΟΓΟΣ \u0441\u043B\u043E\u0432\u043E "
                                   u"\u043E\u043A\u043D\u03BF x \u043F\u0440\u0438\u0432e\u0442 Latin words, then Дo, вот";
    const std::u16string repaired_text =
        u"Слово Wi-Fi місто АВГ: Новый ΛΟΓΟΣ слово окно x привет Latin words, then До, вот";
    // Without the rule only the Greek capitals' word changes.
    const std::u16string capitals_repaired =
        u"Cлово Wi-Fi мiсто АВГ: Новый ΛΟΓΟΣ \u0441\u043B\u043E\u0432\u043E "
        u"\u043E\u043A\u043D\u03BF x \u043F\u0440\u0438\u0432e\u0442 Latin words, then Дo, вот";
    // Shorter than a vector, a text is looked at a unit at a time.
    EXPECT_EQ(repaired(utf16le(u"\u00EFжак"), true, RepairStream::piece_size), utf16le(u"їжак"));
    for (size_t piece : {size_t(3), RepairStream::piece_size}) {
        EXPECT_EQ(repaired(utf16le(damaged), true, piece), utf16le(repaired_text)) << piece;
        EXPECT_EQ(repaired(utf16be(damaged), true, piece), utf16be(repaired_text)) << piece;
        EXPECT_EQ(repaired(utf16le(damaged), false, piece), utf16le(capitals_repaired)) << piece;
        EXPECT_EQ(repaired(utf16be(damaged), false, piece), utf16be(capitals_repaired)) << piece;
    }
}

// Past a thousand letters that may be twins in a piece, the scan stops
// telling the stage where they lie, and the stage searches on by itself.
TEST(WordRule, FindsTwinsPastTheHitsTheScanTellsOf)
{
    std::string before;
    std::u16string before16;
    for (int i = 0; i < 300; ++i)
        before += "Wi-Fi ", before16 += u"Wi-Fi ";
    EXPECT_EQ(repaired(before + "Cлово", true, RepairStream::piece_size), before + "Слово");
    EXPECT_EQ(repaired(utf16le(before16 + u"Cлово"), true, RepairStream::piece_size),
              utf16le(before16 + u"Слово"));
}

TEST(WordRule, LeavesRunsLongerThanTheLimitAsTheyAre)
{
    auto run_of = [](size_t bytes) { return "C" + std::string(bytes - 3, 'x') + "\xD1\x8B"; };
    const std::string at_limit = run_of(RepairStream::longest_word);
    const std::string over_limit = run_of(RepairStream::longest_word + 1);
    std::string repaired_at_limit = "\xD0\xA1";
    for (size_t i = 0; i < RepairStream::longest_word - 3; ++i)
        repaired_at_limit += "\xD1\x85";
    EXPECT_EQ(repaired(at_limit, true, 4096), repaired_at_limit + "\xD1\x8B");
    EXPECT_EQ(repaired(over_limit + " Cлово", true, 4096), over_limit + " Слово");
}

// Cyrillic letters that have a twin, and the twins they are damaged into.
const char* const damages[][2] = {
    {"а", "a"}, {"с", "c"}, {"е", "e"}, {"о", "o"}, {"о", "\u03BF"}, {"р", "p"}, {"х", "x"},
    {"у", "y"}, {"А", "A"}, {"В", "B"}, {"С", "C"}, {"Е", "E"},      {"Н", "H"}, {"К", "K"},
    {"М", "M"}, {"О", "O"}, {"Р", "P"}, {"Т", "T"}, {"Х", "X"},      {"У", "Y"},
};

const char* const english[] = {"the", "iPhone", "Wi-Fi", "Moscow", "Peter", "Coca-Cola",
                               "HTML", "OK", "Tokyo", "Apple", "café", "Zoë", "xyz"};

std::vector<std::string> russian_words()
{
    std::ifstream dictionary("/usr/share/hunspell/ru_RU.dic");
    std::vector<std::string> words;
    std::string line;
    std::getline(dictionary, line);  // the count
    while (std::getline(dictionary, line)) {
        std::string word = line.substr(0, line.find('/'));
        // Only words of two-byte Cyrillic letters, which damaged() walks.
        bool cyrillic = !word.empty() && word.size() % 2 == 0;
        for (size_t at = 0; cyrillic && at < word.size(); at += 2) {
            unsigned char lead = word[at], next = word[at + 1];
            cyrillic = (lead == 0xD0 || lead == 0xD1) && next >= 0x80 && next <= 0xBF;
        }
        if (cyrillic)
            words.push_back(word);
    }
    return words;
}

// Turns some letters of a word into twins, always leaving a Cyrillic one.
std::string damaged(const std::string& word, std::mt19937& random)
{
    std::string out;
    bool kept_cyrillic = false;
    for (size_t at = 0; at < word.size(); at += 2) {
        std::string letter = word.substr(at, 2);
        const char* twin = nullptr;
        for (const auto& damage : damages) {
            if (letter == damage[0] && random() % 3 == 0)
                twin = damage[1];
        }
        bool last = at + 2 >= word.size();
        if (twin && (kept_cyrillic || !last))
            out += twin;
        else
            out += letter, kept_cyrillic = true;
    }
    return out;
}

TEST(WordRule, RestoresDamagedDictionaryTextAndLeavesMixedTextAlone)
{
    const std::vector<std::string> words = russian_words();
    ASSERT_GT(words.size(), 100000u) << "the Russian word list is missing (scripts/install-deps)";
    std::mt19937 random(12);
    std::string original, damaged_text;
    for (int i = 0; i < 60000; ++i) {
        std::string separator = i % 17 == 16 ? ".\n" : i % 5 == 4 ? ", " : " ";
        if (i % 7 == 3) {
            const char* word = english[random() % (sizeof english / sizeof english[0])];
            original += word + separator, damaged_text += word + separator;
            continue;
        }
        const std::string& word = words[random() % words.size()];
        original += word + separator;
        damaged_text += damaged(word, random) + separator;
    }
    ASSERT_NE(damaged_text, original);
    for (size_t piece : {size_t(4093), RepairStream::piece_size}) {
        bool changed = true;
        EXPECT_EQ(repaired(damaged_text, true, piece), original);
        EXPECT_EQ(repaired(original, true, piece, &changed), original);
        EXPECT_FALSE(changed);
    }
}

}  // namespace
