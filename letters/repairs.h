// Every repair glyphmend-cli makes by a fixed rule, as one table: the
// nineteen rows of the letter table in their order, then the compositions.
#pragma once

#include "letters/letter_table.h"
#include "letters/unicode_tables.h"

#include <array>
#include <cstddef>

inline constexpr size_t table_row_count = sizeof letter_fixes / sizeof letter_fixes[0];
inline constexpr size_t repair_count =
    table_row_count + sizeof letter_compositions / sizeof letter_compositions[0];

constexpr std::array<LetterFix, repair_count> make_repairs()
{
    std::array<LetterFix, repair_count> all{};
    for (size_t row = 0; row < repair_count; ++row)
        all[row] = row < table_row_count ? letter_fixes[row] : letter_compositions[row - table_row_count];
    return all;
}

inline constexpr std::array<LetterFix, repair_count> repairs = make_repairs();

enum class RepairKind { table_row, composition };

constexpr RepairKind repair_kind(size_t row)
{
    return row < table_row_count ? RepairKind::table_row : RepairKind::composition;
}
