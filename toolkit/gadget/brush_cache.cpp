// The process-wide cache of solid background brushes: one reference-counted
// brush per colour, shared by every gadget of that background colour.

#include "toolkit/gadget/gadget.h"

// One colour's brush; the record part of a node of the brush_cache chain.
struct BrushEntry {
    int32_t colour;
    HBRUSH brush;       // null when its creation failed
    int32_t references;
};

DynamicNode* brush_cache;
static PlatformLock brush_lock;

// The chain lives on the main heap, so a new start begins with an empty one.
void brush_cache_init()
{
    lock_init(&brush_lock);
    brush_cache = nullptr;
}

static BrushEntry* entry_of(DynamicNode* node)
{
    return reinterpret_cast<BrushEntry*>(node + 1);
}

// Expects the lock. An entry whose brush could not be made is passed over for
// a fresh one.
static HBRUSH acquire_locked(COLORREF colour)
{
    for (DynamicNode* node = brush_cache; node; node = node->next) {
        BrushEntry* entry = entry_of(node);
        if (entry->colour != static_cast<int32_t>(colour))
            continue;
        entry->references++;
        if (entry->brush)
            return entry->brush;
        break;
    }
    auto* entry = static_cast<BrushEntry*>(
        linked_alloc(&brush_cache, sizeof(DynamicNode) + sizeof(BrushEntry)));
    if (!entry)
        return nullptr;
    entry->colour = static_cast<int32_t>(colour);
    entry->brush = CreateSolidBrush(colour);
    entry->references = 1;
    return entry->brush;
}

// Expects the lock.
static void release_locked(HBRUSH brush)
{
    for (DynamicNode* node = brush_cache; node; node = node->next) {
        BrushEntry* entry = entry_of(node);
        if (entry->brush != brush)
            continue;
        if (--entry->references == 0) {
            DeleteObject(brush);
            linked_free(&brush_cache, entry);
        }
        return;
    }
}

HBRUSH brush_acquire(COLORREF colour)
{
    lock_enter(&brush_lock);
    HBRUSH brush = acquire_locked(colour);
    lock_leave(&brush_lock);
    return brush;
}

void brush_release(HBRUSH brush)
{
    lock_enter(&brush_lock);
    release_locked(brush);
    lock_leave(&brush_lock);
}
