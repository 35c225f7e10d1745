// Fast scans over zero-terminated UTF-16 text, for substring replacement.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// First unit at or after p that equals wanted or ends the string, by the
// widest scan the processor offers.
const unit16* find_unit_or_end(const unit16* p, unit16 wanted);

// The scans behind it: SSE2 everywhere, AVX2 only where supported (1).
const unit16* find_unit_or_end_sse2(const unit16* p, unit16 wanted);
const unit16* find_unit_or_end_avx2(const unit16* p, unit16 wanted);
int32_t scan_avx2_supported();
