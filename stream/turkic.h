// How Latin y reads in a Kazakh, Bashkir or Tatar word, where it stands for
// either у or ү. The word's own letters tell, by the sounds around the y
// and the harmony of its vowels.
#pragma once

#include <string>
#include <string_view>

// Whether the y at `letters[at]` (marks left out; other twins may stand
// among them) stands for ү rather than у.
bool reads_as_straight_u(std::u32string_view letters, size_t at);
