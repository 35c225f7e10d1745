// The letter normalizer: the fixed table of look-alike repairs and the pass
// that applies it to the program's working text.
#pragma once

#include "letters/letter_table.h"
#include "runtime/strings/strings.h"

#include <cstdint>

// Program globals (string variables): the text under repair, and its copy
// taken before the pass for the change test.
extern unit16* work_text;
extern unit16* saved_text;

// Rewrites work_text by every row of letter_fixes in table order. 1 when
// done; 0 when memory ran short, and work_text then holds no whole repair.
int32_t normalize_letters();
// 1 when work_text differs from saved_text (null reads as empty), else 0.
int32_t text_changed();
