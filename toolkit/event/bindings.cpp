// Event bindings: callback lists in the bindings map under 8-bit keys
// "kind:window:gadget:type", looked up five times for every posted event.
#include "toolkit/event/event.h"

#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"

#include <cstring>
#include <initializer_list>

StringMap* bindings;

// Writes value in decimal as "%d" does, INT_MIN included; returns the end.
static char* write_decimal(char* out, int32_t value)
{
    uint32_t magnitude = static_cast<uint32_t>(value);
    if (value < 0) {
        *out++ = '-';
        magnitude = 0u - magnitude;
    }
    char reversed[10];
    int32_t count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count > 0)
        *out++ = reversed[--count];
    return out;
}

int32_t binding_key_format(char* key, int32_t kind, int32_t window, int32_t gadget, int32_t type)
{
    char* out = write_decimal(key, kind);
    *out++ = ':';
    out = write_decimal(out, window);
    *out++ = ':';
    out = write_decimal(out, gadget);
    *out++ = ':';
    out = write_decimal(out, type);
    *out = '\0';
    return static_cast<int32_t>(out - key);
}

// A lookup in an empty map finds nothing and changes nothing, so it is skipped.
static bool no_bindings()
{
    return bindings == nullptr || bindings->element_count == 0;
}

// The next link is read after the callback returns, so a callback may free
// nodes that it has already passed but must not change the list ahead of it.
static void run_bound(const char* key)
{
    auto* binding = static_cast<EventBinding*>(map_find_ascii(bindings, key));
    if (!binding)
        return;
    for (BindingCallback* node = binding->callbacks; node;) {
        node->function();
        node = node->next;
    }
}

void binding_dispatch(int32_t kind, int32_t window, int32_t gadget, int32_t type)
{
    if (no_bindings())
        return;
    char key[BINDING_KEY_SIZE];
    binding_key_format(key, kind, window, gadget, type);
    run_bound(key);
}

// One number of a key with the colon that follows it (none after the type).
struct KeyPart {
    char text[12];
    int32_t length;
};

static KeyPart key_part(int32_t value, bool colon)
{
    KeyPart part;
    char* end = write_decimal(part.text, value);
    if (colon)
        *end++ = ':';
    part.length = static_cast<int32_t>(end - part.text);
    return part;
}

static const KeyPart any_with_colon = {"-1:", 3};
static const KeyPart any_last = {"-1", 2};

static void run_bound_parts(const KeyPart& a, const KeyPart& b, const KeyPart& c,
                            const KeyPart& d)
{
    char key[BINDING_KEY_SIZE];
    char* out = key;
    for (const KeyPart* part : {&a, &b, &c, &d}) {
        std::memcpy(out, part->text, part->length);
        out += part->length;
    }
    *out = '\0';
    run_bound(key);
}

// Each number is written once and the five keys are put together from the
// pieces; the lookups still happen one after the other, after each key's
// callbacks, exactly as five calls of binding_dispatch would.
void binding_dispatch_posted(int32_t kind, int32_t window, int32_t gadget, int32_t type)
{
    if (no_bindings())
        return;
    const KeyPart k = key_part(kind, true);
    const KeyPart w = key_part(window, true);
    const KeyPart g = key_part(gadget, true);
    const KeyPart t = key_part(type, false);
    run_bound_parts(k, w, g, t);
    run_bound_parts(k, w, g, any_last);
    run_bound_parts(k, w, any_with_colon, any_last);
    run_bound_parts(k, any_with_colon, any_with_colon, any_last);
    run_bound_parts(k, any_with_colon, g, t);
}

static void free_callbacks(BindingCallback* node)
{
    while (node) {
        BindingCallback* next = node->next;
        heap_free(main_heap, node);
        node = next;
    }
}

void bindings_remove_window(int32_t window)
{
    if (!bindings)
        return;
    map_reset(bindings);
    while (auto* binding = static_cast<EventBinding*>(map_next(bindings))) {
        if (binding->window == window) {
            free_callbacks(binding->callbacks);
            map_delete_current(bindings);
        }
    }
}

static void append_callback(EventBinding* binding, BindingCallback* node)
{
    BindingCallback** link = &binding->callbacks;
    while (*link)
        link = &(*link)->next;
    *link = node;
}

// A binding has one owner: the window of the latest binding_add under its key.
int32_t binding_add(int32_t kind, int32_t window, int32_t gadget, int32_t type,
                    void (*callback)(), int32_t owner_window)
{
    if (!bindings || !callback)
        return 0;
    char key[BINDING_KEY_SIZE];
    binding_key_format(key, kind, window, gadget, type);
    auto* node = static_cast<BindingCallback*>(heap_alloc(main_heap, sizeof(BindingCallback), 1));
    if (!node)
        return 0;
    auto* binding = static_cast<EventBinding*>(map_find_ascii(bindings, key));
    if (!binding)
        binding = static_cast<EventBinding*>(map_insert_ascii(bindings, key, 0));
    if (!binding) {
        heap_free(main_heap, node);
        return 0;
    }
    node->function = callback;
    append_callback(binding, node);
    binding->window = owner_window;
    return 1;
}
