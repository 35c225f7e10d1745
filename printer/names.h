// Unicode character names for the check lines.
#pragma once

// The name of a character that the repairs name, or null for any other.
const char* character_name(char32_t code);
