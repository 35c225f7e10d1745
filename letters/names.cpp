#include "letters/names.h"

#include "letters/unicode_tables.h"

#include <algorithm>
#include <iterator>

const char* character_name(char32_t code)
{
    const CharacterName* entry =
        std::lower_bound(std::begin(character_names), std::end(character_names), code,
                         [](const CharacterName& name, char32_t c) { return name.code < c; });
    return entry != std::end(character_names) && entry->code == code ? entry->name : nullptr;
}
