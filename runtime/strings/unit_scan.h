// Fast scans over zero-terminated UTF-16 text, for substring replacement.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// The first position at or after p where the text ends or an exact
// occurrence of search (length >= 1 units) starts. Candidates are positions
// whose unit equals search[0]; only they are compared further. A search of
// one zero unit finds the terminator. Uses the widest scan the processor offers.
const unit16* find_occurrence_or_end(const unit16* p, const unit16* search, uint32_t length);

// The scans behind it: SSE2 everywhere, AVX2 only where supported (1).
const unit16* find_occurrence_or_end_sse2(const unit16* p, const unit16* search, uint32_t length);
const unit16* find_occurrence_or_end_avx2(const unit16* p, const unit16* search, uint32_t length);
int32_t scan_avx2_supported();
