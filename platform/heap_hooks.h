// The bookkeeping behind the heap test hooks, shared by both sides of the
// seam: each side calls these around its own heap and duplicate calls.
#pragma once

#include "platform/platform.h"

// Numbers one allocation; 1 when the armed refusal says it must fail.
int hooks_refuse_allocation();

void hooks_heap_created(HeapHandle heap);
// The heap's blocks go with it.
void hooks_heap_destroyed(HeapHandle heap);
// A block handed out or returned; a null heap stands for u16_dup's duplicates.
void hooks_block_taken(HeapHandle heap);
void hooks_block_returned(HeapHandle heap);
