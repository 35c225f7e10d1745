// The string-keyed hash map: fixed bucket array, chains pushed at the head,
// elements from a pool shared by all maps of the same element stride.
#include "runtime/containers/containers.h"

#include "runtime/objects/objects.h"

#include <cstddef>
#include <cstring>

static_assert(offsetof(MapElement, value) == by_width(8, 16),
              "an element's value follows its link and its key");
static_assert(sizeof(StringMap) == by_width(52, 80), "StringMap keeps its layout");

constexpr int32_t ELEMENT_HEADER = offsetof(MapElement, value);
constexpr int32_t POOL_MIN_PER_CHUNK = 16;
constexpr int32_t POOL_MAX_PER_CHUNK = 65536;

// ---- Keys --------------------------------------------------------------------------
// One traits record per key form, so that lookup and insertion are written once.

static uint32_t fold_ascii(uint32_t unit)
{
    return unit >= 'A' && unit <= 'Z' ? unit + ('a' - 'A') : unit;
}

// UTF-16 units hash as unsigned values, bytes as signed ones (0x80..0xFF are -128..-1).
static uint32_t unit_value(unit16 unit) { return unit; }
static uint32_t unit_value(char unit) { return static_cast<uint32_t>(static_cast<signed char>(unit)); }

// sdbm: h = h * 65599 + unit, wrapping in 32 bits.
template <typename Unit>
static uint32_t text_hash(const Unit* key, uint32_t flags)
{
    uint32_t hash = 0;
    for (; *key; ++key) {
        uint32_t unit = unit_value(*key);
        if (flags & MAP_CASE_INSENSITIVE)
            unit = fold_ascii(unit);
        hash = hash * 65599u + unit;
    }
    return hash;
}

template <typename Unit>
static bool text_equal(const Unit* a, const Unit* b, uint32_t flags)
{
    const bool fold = flags & MAP_CASE_INSENSITIVE;
    for (;; ++a, ++b) {
        uint32_t x = unit_value(*a), y = unit_value(*b);
        if (fold) {
            x = fold_ascii(x);
            y = fold_ascii(y);
        }
        if (x != y)
            return false;
        if (!*a)
            return true;
    }
}

template <typename Unit>
static uint32_t text_length(const Unit* key)
{
    uint32_t length = 0;
    while (key[length])
        ++length;
    return length;
}

struct Utf16Key {
    using Type = const unit16*;
    static bool usable(const StringMap* map) { return !(map->flags & MAP_INT_KEYS); }
    static Type normal(Type key) { return key ? key : u""; }
    static uint32_t hash(Type key, uint32_t flags) { return text_hash(key, flags); }
    static bool matches(const MapElement* e, Type key, uint32_t flags)
    {
        return text_equal<unit16>(e->key.text, key, flags);
    }
    static bool store(MapElement* e, Type key)
    {
        uint32_t units = text_length(key) + 1;
        e->key.text = static_cast<unit16*>(heap_alloc(main_heap, units * sizeof(unit16), 0));
        if (e->key.text)
            std::memcpy(e->key.text, key, units * sizeof(unit16));
        return e->key.text != nullptr;
    }
};

struct AsciiKey {
    using Type = const char*;
    static bool usable(const StringMap* map) { return !(map->flags & MAP_INT_KEYS); }
    static Type normal(Type key) { return key ? key : ""; }
    static uint32_t hash(Type key, uint32_t flags) { return text_hash(key, flags); }
    static bool matches(const MapElement* e, Type key, uint32_t flags)
    {
        return text_equal<char>(e->key.bytes, key, flags);
    }
    // Zero-padded to a whole zero UTF-16 unit: a map given both key forms then
    // compares them unequal instead of reading past either copy.
    static bool store(MapElement* e, Type key)
    {
        uint32_t length = text_length(key);
        e->key.bytes = static_cast<char*>(heap_alloc(main_heap, length + 2 + (length & 1), 1));
        if (e->key.bytes)
            std::memcpy(e->key.bytes, key, length);
        return e->key.bytes != nullptr;
    }
};

struct IntKey {
    using Type = int32_t;
    static bool usable(const StringMap* map) { return map->flags & MAP_INT_KEYS; }
    static Type normal(Type key) { return key; }
    static bool matches(const MapElement* e, Type key, uint32_t) { return e->key.number == key; }
    static bool store(MapElement* e, Type key)
    {
        e->key.number = key;
        return true;
    }
};

static int32_t text_bucket(const StringMap* map, uint32_t hash)
{
    return static_cast<int32_t>(hash % static_cast<uint32_t>(map->bucket_count));
}

template <typename Key>
static int32_t bucket_of(const StringMap* map, typename Key::Type key)
{
    return text_bucket(map, Key::hash(key, map->flags));
}

// Negative keys get a non-negative bucket too.
template <>
int32_t bucket_of<IntKey>(const StringMap* map, int32_t key)
{
    int32_t bucket = key % map->bucket_count;
    return bucket < 0 ? bucket + map->bucket_count : bucket;
}

static void release_key(const StringMap* map, MapElement* element)
{
    if (!(map->flags & MAP_INT_KEYS))
        heap_free(main_heap, element->key.text);
}

// ---- Elements ------------------------------------------------------------------------

static void release_element(StringMap* map, MapElement* element)
{
    release_key(map, element);
    if (map->descriptor)
        struct_clear(element->value, map->descriptor);
    pool_free(map->pool, element);
}

static void* fresh_value(StringMap* map, MapElement* element)
{
    std::memset(element->value, 0, map->value_size);
    if (map->flags & MAP_INIT_VALUES)
        struct_init(element->value, map->descriptor);
    return element->value;
}

// The cursor lands on the first element of the chain under `key`; its chain
// predecessor is kept so that map_delete_current can follow. A miss leaves
// the cursor as it was.
template <typename Key>
static MapElement* find_element(StringMap* map, typename Key::Type key)
{
    int32_t bucket = bucket_of<Key>(map, key);
    MapElement* before = nullptr;
    for (MapElement* e = map->buckets[bucket]; e; before = e, e = e->next) {
        if (Key::matches(e, key, map->flags)) {
            map->current = e;
            map->predecessor = before;
            map->bucket_index = bucket;
            map->saved_bucket_index = bucket;
            return e;
        }
    }
    return nullptr;
}

template <typename Key>
static void* find_value(StringMap* map, typename Key::Type key)
{
    if (!map || !Key::usable(map))
        return nullptr;
    MapElement* element = find_element<Key>(map, Key::normal(key));
    return element ? element->value : nullptr;
}

template <typename Key>
static void* insert_value(StringMap* map, typename Key::Type key, int32_t reuse)
{
    if (!map || !Key::usable(map))
        return nullptr;
    key = Key::normal(key);
    if (reuse) {
        if (MapElement* found = find_element<Key>(map, key)) {
            if (map->descriptor)
                struct_clear(found->value, map->descriptor);
            return fresh_value(map, found);
        }
    }
    auto* element = static_cast<MapElement*>(pool_alloc(map->pool));
    if (!element)
        return nullptr;
    if (!Key::store(element, key)) {
        pool_free(map->pool, element);
        return nullptr;
    }
    int32_t bucket = bucket_of<Key>(map, key);
    element->next = map->buckets[bucket];
    map->buckets[bucket] = element;
    map->predecessor = nullptr;
    map->element_count++;
    map->current = element;
    map->bucket_index = bucket;
    return fresh_value(map, element);
}

// ---- Creation and destruction ----------------------------------------------------------

static StringMap* new_record(int32_t value_size, int32_t value_kind,
                             const DescriptorWord* descriptor, int32_t bucket_count)
{
    auto* map = static_cast<StringMap*>(heap_alloc(main_heap, sizeof(StringMap), 1));
    if (!map)
        return nullptr;
    map->buckets = static_cast<MapElement**>(
        heap_alloc(main_heap, static_cast<uint32_t>(bucket_count) * sizeof(MapElement*), 1));
    if (!map->buckets) {
        heap_free(main_heap, map);
        return nullptr;
    }
    map->bucket_count = bucket_count;
    map->value_size = value_size;
    map->value_kind = value_kind;
    map->descriptor = descriptor;
    map->current = nullptr;
    map->bucket_index = -1;
    map->saved_bucket_index = -1;
    map->element_count = 0;
    map->flags = descriptor_needs_init(descriptor) ? uint32_t{MAP_INIT_VALUES} : 0u;
    return map;
}

static void delete_record(StringMap* map)
{
    heap_free(main_heap, map->buckets);
    heap_free(main_heap, map);
}

StringMap* map_create(int32_t value_size, int32_t value_kind, const DescriptorWord* descriptor,
                      StringMap** owner, int32_t bucket_count)
{
    if (owner)
        map_free(*owner);
    if (bucket_count <= 0)
        bucket_count = 1;
    if (value_size < 0 || value_size > INT32_MAX - ELEMENT_HEADER ||
        static_cast<uint32_t>(bucket_count) > UINT32_MAX / sizeof(MapElement*))
        return nullptr;
    StringMap* map = new_record(value_size, value_kind, descriptor, bucket_count);
    if (!map)
        return nullptr;
    map->pool = pool_create(value_size + ELEMENT_HEADER, POOL_MIN_PER_CHUNK, POOL_MAX_PER_CHUNK,
                            POOL_SHARED);
    if (!map->pool) {
        delete_record(map);
        return nullptr;
    }
    map->owner = owner;
    if (owner)
        *owner = map;
    return map;
}

void map_free(StringMap* map)
{
    if (!map)
        return;
    map_clear(map);
    pool_destroy(map->pool);
    if (map->owner && *map->owner == map)
        *map->owner = nullptr;
    delete_record(map);
}

void map_clear(StringMap* map)
{
    if (!map)
        return;
    for (int32_t bucket = 0; bucket < map->bucket_count; ++bucket) {
        MapElement* element = map->buckets[bucket];
        while (element) {
            MapElement* next = element->next;
            release_element(map, element);
            element = next;
        }
        map->buckets[bucket] = nullptr;
    }
    map->predecessor = nullptr;
    map->element_count = 0;
    // No 8-bit key is left, so a copy must not read later keys as 8-bit ones.
    map->flags &= ~MAP_ASCII_KEYS;
    map_reset(map);
}

// ---- Copy --------------------------------------------------------------------------------

static MapElement* reverse_chain(MapElement* head)
{
    MapElement* reversed = nullptr;
    while (head) {
        MapElement* next = head->next;
        head->next = reversed;
        reversed = head;
        head = next;
    }
    return reversed;
}

static void* insert_copy_of_key(StringMap* destination, const StringMap* source,
                                const MapElement* element)
{
    if (source->flags & MAP_INT_KEYS)
        return map_insert_int(destination, element->key.number, 0);
    if (source->flags & MAP_ASCII_KEYS)
        return map_insert_ascii(destination, element->key.bytes, 0);
    return map_insert(destination, element->key.text, 0);
}

// Copies one chain oldest first, so that of equal keys the destination shows
// the same element as the source. 0 when an insert fails, or a value's
// strings or maps could not all be copied.
static int32_t copy_chain(StringMap* source, MapElement* oldest_first, StringMap* destination)
{
    for (MapElement* element = oldest_first; element; element = element->next) {
        void* value = insert_copy_of_key(destination, source, element);
        if (!value)
            return 0;
        struct_copy(value, source->value_size, source->descriptor, element->value);
        if (!struct_copy_whole(value, source->descriptor, element->value))
            return 0;
    }
    return 1;
}

// The source's chains are walked in place (each reversed for the walk and
// restored), so its cursor is not disturbed. Copying a map onto itself would
// walk the elements it is adding, so it is left as it is; values larger than
// the destination's would overrun its elements, so such a copy changes
// nothing and fails. Smaller values fill the start of zeroed ones.
int32_t map_copy(StringMap* source, StringMap* destination, int32_t clear_first)
{
    if (!source || !destination || source->value_size > destination->value_size)
        return 0;
    if (source == destination)
        return 1;
    if (clear_first)
        map_clear(destination);
    int32_t copied = 1;
    for (int32_t bucket = 0; copied && bucket < source->bucket_count; ++bucket) {
        MapElement* oldest_first = reverse_chain(source->buckets[bucket]);
        copied = copy_chain(source, oldest_first, destination);
        source->buckets[bucket] = reverse_chain(oldest_first);
    }
    return copied;
}

// ---- Insert and look up ---------------------------------------------------------------

void* map_insert(StringMap* map, const unit16* key, int32_t reuse)
{
    return insert_value<Utf16Key>(map, key, reuse);
}

void* map_insert_ascii(StringMap* map, const char* key, int32_t reuse)
{
    void* value = insert_value<AsciiKey>(map, key, reuse);
    if (value)
        map->flags |= MAP_ASCII_KEYS;
    return value;
}

void* map_insert_int(StringMap* map, int32_t key, int32_t reuse)
{
    return insert_value<IntKey>(map, key, reuse);
}

void* map_find(StringMap* map, const unit16* key)
{
    return find_value<Utf16Key>(map, key);
}

void* map_find_ascii(StringMap* map, const char* key)
{
    return find_value<AsciiKey>(map, key);
}

void* map_find_int(StringMap* map, int32_t key)
{
    return find_value<IntKey>(map, key);
}

// ---- Iteration -------------------------------------------------------------------------

void map_reset(StringMap* map)
{
    if (!map)
        return;
    map->current = nullptr;
    map->bucket_index = -1;
}

static void move_to_bucket_after(StringMap* map, int32_t bucket)
{
    for (++bucket; bucket < map->bucket_count; ++bucket) {
        if (map->buckets[bucket]) {
            map->current = map->buckets[bucket];
            map->bucket_index = bucket;
            return;
        }
    }
    map->current = nullptr;
}

void* map_next(StringMap* map)
{
    if (!map)
        return nullptr;
    map->predecessor = map->current;
    map->saved_bucket_index = map->bucket_index;
    if (map->current) {
        if (map->current->next)
            map->current = map->current->next;
        else
            move_to_bucket_after(map, map->bucket_index);
    } else if (map->bucket_index == -1) {
        move_to_bucket_after(map, -1);
    }
    return map->current ? map->current->value : nullptr;
}

// The link that points at `element` in its chain, or null when the chain
// does not hold it (a cursor left stale by an undefined call sequence).
static MapElement** link_to(StringMap* map, MapElement* element)
{
    MapElement** link = &map->buckets[map->bucket_index];
    while (*link && *link != element)
        link = &(*link)->next;
    return *link ? link : nullptr;
}

// The chain is searched for the element's link rather than trusting the
// predecessor, and the predecessor is dropped afterwards: a second delete
// without map_next then cannot unlink or revisit a freed element.
void* map_delete_current(StringMap* map)
{
    if (!map || !map->current)
        return nullptr;
    MapElement* element = map->current;
    MapElement** link = link_to(map, element);
    if (!link)
        return nullptr;
    *link = element->next;
    map->element_count--;
    map->current = map->predecessor;
    map->bucket_index = map->saved_bucket_index;
    map->predecessor = nullptr;
    release_element(map, element);
    return map->current ? map->current->value : nullptr;
}
