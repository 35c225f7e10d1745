// Event bindings: callback lists in the bindings map under 8-bit keys
// "kind:window:gadget:type", looked up five times for every posted event.
#include "toolkit/event/event.h"

#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"

#include <cstring>

StringMap* bindings;

int32_t binding_key_format(char* key, int32_t kind, intptr_t window, intptr_t gadget,
                           int32_t type)
{
    char* out = key + number_text(key, kind);
    *out++ = ':';
    out += number_text(out, window);
    *out++ = ':';
    out += number_text(out, gadget);
    *out++ = ':';
    out += number_text(out, type);
    return static_cast<int32_t>(out - key);
}

// A lookup in an empty map finds nothing and changes nothing, so it is skipped.
static bool no_bindings()
{
    return bindings == nullptr || bindings->element_count == 0;
}

// Nodes dropped while callbacks run (a callback that frees its own window): a
// walk may still stand on them, so they are freed when the outermost walk
// ends. Until then their links stay as they were, and a walk goes on through
// them unchanged.
struct RetiredCallback {
    RetiredCallback* next;
    BindingCallback* node;
};

static RetiredCallback* retired_callbacks;
static int32_t running_walks;

static void drop_callback(BindingCallback* node)
{
    if (running_walks == 0) {
        heap_free(main_heap, node);
        return;
    }
    auto* retired = static_cast<RetiredCallback*>(heap_alloc(main_heap, sizeof(RetiredCallback), 0));
    if (!retired)
        return;  // left allocated: freeing it under a running walk is worse
    *retired = RetiredCallback{retired_callbacks, node};
    retired_callbacks = retired;
}

static void free_retired_callbacks()
{
    while (RetiredCallback* retired = retired_callbacks) {
        retired_callbacks = retired->next;
        heap_free(main_heap, retired->node);
        heap_free(main_heap, retired);
    }
}

// The next link is read after the callback returns, so a callback must not
// change the list ahead of it.
static void run_bound(const char* key)
{
    auto* binding = static_cast<EventBinding*>(map_find_ascii(bindings, key));
    if (!binding)
        return;
    ++running_walks;
    for (BindingCallback* node = binding->callbacks; node;) {
        node->function();
        node = node->next;
    }
    if (--running_walks == 0)
        free_retired_callbacks();
}

// The map's key hash: h = h * 65599 + byte, over signed bytes, wrapping.
constexpr uint32_t SDBM_FACTOR = 65599u;

// One number of a key as the hash sees it: the value, the hash of its text
// with the colon that follows it (none after the type), and 65599^length,
// which carries a hash across it. The hash of a whole key is then put
// together from its four numbers without writing the key.
struct KeyNumber {
    intptr_t value;
    uint32_t hash;
    uint32_t factor;
};

// Digits come least significant first; each weighs 65599^(its distance from
// the end of the text).
static constexpr KeyNumber key_number(intptr_t value, bool colon)
{
    uintptr_t magnitude = value < 0 ? 0u - static_cast<uintptr_t>(value) : static_cast<uintptr_t>(value);
    uint32_t hash = 0;
    uint32_t factor = 1;
    do {
        hash += static_cast<uint32_t>('0' + magnitude % 10) * factor;
        factor *= SDBM_FACTOR;
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        hash += '-' * factor;
        factor *= SDBM_FACTOR;
    }
    if (colon) {
        hash = hash * SDBM_FACTOR + ':';
        factor *= SDBM_FACTOR;
    }
    return KeyNumber{value, hash, factor};
}

static constexpr KeyNumber any_with_colon = key_number(-1, true);
static constexpr KeyNumber any_last = key_number(-1, false);

// The number last seen in one place of the key. Kind, window and type mostly
// repeat from one post to the next, so most posts hash one number.
static KeyNumber last_kind = key_number(0, true);
static KeyNumber last_window = key_number(0, true);
static KeyNumber last_gadget = key_number(0, true);
static KeyNumber last_type = key_number(0, false);

static KeyNumber cached_number(KeyNumber& cache, intptr_t value, bool colon)
{
    if (cache.value != value)
        cache = key_number(value, colon);
    return cache;
}

// Whether the map's chain for this hash is empty, where map_find_ascii would
// find nothing and change nothing.
static bool bucket_empty(uint32_t hash)
{
    const auto count = static_cast<uint32_t>(bindings->bucket_count);
    const uint32_t bucket = (count & (count - 1)) == 0 ? hash & (count - 1) : hash % count;
    return bindings->buckets[bucket] == nullptr;
}

// Most keys of a post fall on an empty bucket; only the others are written
// and looked up.
static void run_bound_numbers(const KeyNumber& kind, const KeyNumber& window,
                              const KeyNumber& gadget, const KeyNumber& type)
{
    const uint32_t hash =
        ((kind.hash * window.factor + window.hash) * gadget.factor + gadget.hash) * type.factor +
        type.hash;
    if (bucket_empty(hash))
        return;
    char key[BINDING_KEY_SIZE];
    binding_key_format(key, static_cast<int32_t>(kind.value), window.value, gadget.value,
                       static_cast<int32_t>(type.value));
    run_bound(key);
}

void binding_dispatch(int32_t kind, intptr_t window, intptr_t gadget, int32_t type)
{
    if (no_bindings())
        return;
    run_bound_numbers(key_number(kind, true), key_number(window, true), key_number(gadget, true),
                      key_number(type, false));
}

// Each number is hashed at most once and the five keys' hashes are put
// together from them; the lookups still happen one after the other, after
// each key's callbacks, exactly as five calls of binding_dispatch would.
void binding_dispatch_posted(int32_t kind, intptr_t window, intptr_t gadget, int32_t type)
{
    if (no_bindings())
        return;
    // Copies: a callback that posts changes the cache.
    const KeyNumber k = cached_number(last_kind, kind, true);
    const KeyNumber w = cached_number(last_window, window, true);
    const KeyNumber g = cached_number(last_gadget, gadget, true);
    const KeyNumber t = cached_number(last_type, type, false);
    run_bound_numbers(k, w, g, t);
    run_bound_numbers(k, w, g, any_last);
    run_bound_numbers(k, w, any_with_colon, any_last);
    run_bound_numbers(k, any_with_colon, any_with_colon, any_last);
    run_bound_numbers(k, any_with_colon, g, t);
}

// Unlinks the window's callbacks from the list; the links of the nodes taken
// out stay as they were, for a walk that stands on one of them.
static void drop_window_callbacks(EventBinding* binding, intptr_t window)
{
    BindingCallback** link = &binding->callbacks;
    while (BindingCallback* node = *link) {
        if (node->window == window) {
            *link = node->next;
            drop_callback(node);
        } else {
            link = &node->next;
        }
    }
}

void bindings_remove_window(intptr_t window)
{
    if (!bindings)
        return;
    map_reset(bindings);
    while (auto* binding = static_cast<EventBinding*>(map_next(bindings))) {
        drop_window_callbacks(binding, window);
        if (binding->callbacks)
            binding->window = binding->callbacks->window;
        else
            map_delete_current(bindings);
    }
}

static void append_callback(EventBinding* binding, BindingCallback* node)
{
    BindingCallback** link = &binding->callbacks;
    while (*link)
        link = &(*link)->next;
    *link = node;
}

// Each callback belongs to the window that added it, so windows binding the
// same key keep their callbacks apart.
int32_t binding_add(int32_t kind, intptr_t window, intptr_t gadget, int32_t type,
                    void (*callback)(), intptr_t owner_window)
{
    if (!bindings || !callback)
        return 0;
    char key[BINDING_KEY_SIZE];
    binding_key_format(key, kind, window, gadget, type);
    auto* node = static_cast<BindingCallback*>(heap_alloc(main_heap, sizeof(BindingCallback), 1));
    if (!node)
        return 0;
    auto* binding = static_cast<EventBinding*>(map_find_ascii(bindings, key));
    if (!binding) {
        binding = static_cast<EventBinding*>(map_insert_ascii(bindings, key, 0));
        if (!binding) {
            heap_free(main_heap, node);
            return 0;
        }
        binding->window = owner_window;
    }
    node->function = callback;
    node->window = owner_window;
    append_callback(binding, node);
    return 1;
}
