// Unicode character names for the reports.
#pragma once

// The Unicode name of a character that a repair or a twin involves, or null
// for any other.
const char* character_name(char32_t code);
