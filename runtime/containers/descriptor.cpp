// Value descriptors: the walkers that create, free and copy the strings and
// nested containers inside raw container values, and the table through
// which nested containers are reached.
#include "runtime/containers/containers.h"

#include "runtime/strings/strings.h"

#include <cstring>

ContainerOps container_ops = {};

// Bytes a field covers: strings and containers are reached through one
// pointer, a two-word container is a pointer and a second word of the same
// width, and the inline dimensions of a -7 field are 32-bit words.
constexpr int32_t POINTER_FIELD = sizeof(void*);
constexpr int32_t PAIR_FIELD = 2 * sizeof(void*);
constexpr int32_t DIMENSION_WORD = sizeof(int32_t);

// One decoded descriptor entry.
struct DescriptorEntry {
    int32_t code;                  // 0 for a string field, else the negative code
    int32_t offset;                // byte offset of the field in the value
    int32_t bytes;                 // bytes of value the field covers
    const DescriptorWord* words;   // the words after the code
};

static const DescriptorWord* descriptor_at(DescriptorWord word)
{
    return reinterpret_cast<const DescriptorWord*>(word);
}

// A word that holds a number (an offset, a size, a count, a parameter).
static int32_t number_at(const DescriptorWord* words, int32_t index)
{
    return static_cast<int32_t>(words[index]);
}

// Decodes the entry at `at` and returns the entry after it, or null at the
// end. An unknown code or a negative count ends the walk rather than
// misreading what follows.
static const DescriptorWord* next_entry(const DescriptorWord* at, DescriptorEntry* entry)
{
    const int32_t code = number_at(at, 0);
    const DescriptorWord* w = at + 1;
    entry->words = w;
    entry->code = code >= 0 ? 0 : code;
    switch (code) {
    case DESCRIPTOR_ARRAY:
        if (w[0] < 0 || w[2] < 0)
            return nullptr;
        entry->offset = number_at(w, 1);
        entry->bytes = number_at(w, 0) * number_at(w, 2);
        return w + 4;
    case DESCRIPTOR_STRUCT:
        entry->offset = number_at(w, 0);
        entry->bytes = number_at(w, 1);
        return w + 3;
    case DESCRIPTOR_DIMENSIONED:
        entry->offset = number_at(w, 0);
        entry->bytes = POINTER_FIELD;
        return w + 5;
    case DESCRIPTOR_PAIR:
        entry->offset = number_at(w, 0);
        entry->bytes = PAIR_FIELD;
        return w + 4;
    case DESCRIPTOR_MAP:
        entry->offset = number_at(w, 0);
        entry->bytes = POINTER_FIELD;
        return w + 5;
    case DESCRIPTOR_DIMENSIONED_INLINE:
        if (w[1] < 0)
            return nullptr;
        entry->offset = number_at(w, 0);
        entry->bytes = POINTER_FIELD + DIMENSION_WORD * number_at(w, 1);
        return w + 5 + w[1];
    default:
        if (code < 0)
            return nullptr;
        entry->offset = code;
        entry->bytes = POINTER_FIELD;
        return w;
    }
}

// Calls visit(entry) for every entry of the descriptor (null: none).
template <typename Visit>
static void walk(const DescriptorWord* descriptor, Visit visit)
{
    DescriptorEntry entry;
    for (const DescriptorWord* at = descriptor; at && (at = next_entry(at, &entry));)
        visit(entry);
}

template <typename Field>
static Field& field_at(void* value, int32_t offset)
{
    return *reinterpret_cast<Field*>(static_cast<unsigned char*>(value) + offset);
}

template <typename Field>
static Field field_at(const void* value, int32_t offset)
{
    return *reinterpret_cast<const Field*>(static_cast<const unsigned char*>(value) + offset);
}

int32_t descriptor_needs_init(const DescriptorWord* descriptor)
{
    int32_t needs = 0;
    walk(descriptor, [&](const DescriptorEntry& e) {
        if (e.code == DESCRIPTOR_ARRAY)
            needs |= descriptor_needs_init(descriptor_at(e.words[3]));
        else if (e.code == DESCRIPTOR_STRUCT)
            needs |= descriptor_needs_init(descriptor_at(e.words[2]));
        else if (e.code <= DESCRIPTOR_DIMENSIONED)
            needs = 1;
    });
    return needs;
}

// Applies `each` to every embedded structure of a -2 or -3 entry with its
// offset, size and sub-descriptor.
template <typename Each>
static void for_each_embedded(const DescriptorEntry& e, Each each)
{
    if (e.code == DESCRIPTOR_STRUCT) {
        each(e.offset, e.bytes, descriptor_at(e.words[2]));
        return;
    }
    const int32_t count = number_at(e.words, 0);
    const int32_t stride = number_at(e.words, 2);
    for (int32_t i = 0; i < count; ++i)
        each(e.offset + i * stride, stride, descriptor_at(e.words[3]));
}

// ---- Initialisation ------------------------------------------------------------------

// The n dimension words of a -7 entry, written right after the field's pointer.
static void write_dimensions(unsigned char* field, const DescriptorWord* w)
{
    for (int32_t i = 0; i < number_at(w, 1); ++i) {
        const int32_t dimension = number_at(w, 5 + i);
        std::memcpy(field + POINTER_FIELD + DIMENSION_WORD * i, &dimension, DIMENSION_WORD);
    }
}

static void init_field(unsigned char* value, const DescriptorEntry& e)
{
    unsigned char* field = value + e.offset;
    const DescriptorWord* w = e.words;
    switch (e.code) {
    case DESCRIPTOR_ARRAY:
    case DESCRIPTOR_STRUCT:
        for_each_embedded(e, [&](int32_t offset, int32_t, const DescriptorWord* sub) {
            struct_init(value + offset, sub);
        });
        break;
    case DESCRIPTOR_DIMENSIONED:
        if (container_ops.create_dimensioned)
            container_ops.create_dimensioned(number_at(w, 1), number_at(w, 2), number_at(w, 3),
                                             number_at(w, 4), field);
        break;
    case DESCRIPTOR_PAIR:
        if (container_ops.create_pair)
            container_ops.create_pair(number_at(w, 1), field, number_at(w, 2), number_at(w, 3));
        break;
    case DESCRIPTOR_MAP:
        if (container_ops.create_map)
            container_ops.create_map(number_at(w, 1), number_at(w, 2), descriptor_at(w[3]),
                                     reinterpret_cast<StringMap**>(field), number_at(w, 4));
        break;
    case DESCRIPTOR_DIMENSIONED_INLINE:
        write_dimensions(field, w);
        if (container_ops.create_dimensioned_inline)
            container_ops.create_dimensioned_inline(number_at(w, 1), number_at(w, 2),
                                                    number_at(w, 3), number_at(w, 4), field);
        break;
    default:
        break;  // a zero string field already reads as empty
    }
}

void struct_init(void* value, const DescriptorWord* descriptor)
{
    walk(descriptor, [&](const DescriptorEntry& e) {
        init_field(static_cast<unsigned char*>(value), e);
    });
}

// ---- Clearing ------------------------------------------------------------------------

static void clear_string(unit16*& field)
{
    string_free(field);
    field = nullptr;
}

static void free_dimensioned(void*& field)
{
    if (container_ops.free_dimensioned)
        container_ops.free_dimensioned(field);
    field = nullptr;
}

static void free_pair(void* field)
{
    if (container_ops.free_pair)
        container_ops.free_pair(field);
    std::memset(field, 0, PAIR_FIELD);
}

// The map's owner variable is the field itself, so freeing nulls it.
static void free_map(StringMap*& field)
{
    if (container_ops.free_map)
        container_ops.free_map(field);
}

static void clear_field(unsigned char* value, const DescriptorEntry& e)
{
    void* field = value + e.offset;
    switch (e.code) {
    case DESCRIPTOR_ARRAY:
    case DESCRIPTOR_STRUCT:
        for_each_embedded(e, [&](int32_t offset, int32_t, const DescriptorWord* sub) {
            struct_clear(value + offset, sub);
        });
        break;
    case DESCRIPTOR_DIMENSIONED:
    case DESCRIPTOR_DIMENSIONED_INLINE:
        free_dimensioned(*static_cast<void**>(field));
        break;
    case DESCRIPTOR_PAIR:
        free_pair(field);
        break;
    case DESCRIPTOR_MAP:
        free_map(*static_cast<StringMap**>(field));
        break;
    default:
        clear_string(*static_cast<unit16**>(field));
        break;
    }
}

void struct_clear(void* value, const DescriptorWord* descriptor)
{
    walk(descriptor, [&](const DescriptorEntry& e) {
        clear_field(static_cast<unsigned char*>(value), e);
    });
}

// ---- Copying -------------------------------------------------------------------------

// A destination that already holds the source's string (a plain copy of the
// value) keeps it: freeing it first would free what is about to be read.
static void copy_string(unit16*& destination, const unit16* source)
{
    if (destination == source)
        return;
    if (destination)
        clear_string(destination);
    if (source)
        string_new_copy(&destination, source);
}

// The new map takes the source's shape, key modes included, so that the
// copied keys can be inserted and found the same way. A destination that
// already holds the source's map keeps it, as a string field does.
static void copy_map(StringMap*& destination, StringMap* source)
{
    if (destination == source)
        return;
    if (destination)
        free_map(destination);
    if (!source || !container_ops.create_map || !container_ops.copy_map)
        return;
    StringMap* copy = container_ops.create_map(source->value_size, source->value_kind,
                                               source->descriptor, &destination,
                                               source->bucket_count);
    if (!copy)
        return;
    copy->flags |= source->flags & (MAP_CASE_INSENSITIVE | MAP_INT_KEYS | MAP_ASCII_KEYS);
    // Part of a map is no copy of it: the field is left without one.
    if (!container_ops.copy_map(source, copy, 0))
        free_map(destination);
}

// Dimensioned containers are recreated with the entry's own parameters:
// their libraries, which alone could read them from the source, are not part
// of this system.
static void copy_dimensioned(unsigned char* destination, const DescriptorEntry& e, void* source)
{
    free_dimensioned(field_at<void*>(destination, e.offset));
    if (!source || !container_ops.copy_dimensioned)
        return;
    init_field(destination, e);
    container_ops.copy_dimensioned(source, field_at<void*>(destination, e.offset), 0);
}

static void copy_pair(unsigned char* destination, const DescriptorEntry& e, const void* source)
{
    void* field = destination + e.offset;
    free_pair(field);
    if (!field_at<void*>(source, 0) || !container_ops.copy_pair)
        return;
    init_field(destination, e);
    container_ops.copy_pair(source, field, 0);
}

static void copy_field(unsigned char* destination, const DescriptorEntry& e,
                       const unsigned char* source)
{
    switch (e.code) {
    case DESCRIPTOR_ARRAY:
    case DESCRIPTOR_STRUCT:
        for_each_embedded(e, [&](int32_t offset, int32_t size, const DescriptorWord* sub) {
            struct_copy(destination + offset, size, sub, source + offset);
        });
        break;
    case DESCRIPTOR_DIMENSIONED:
    case DESCRIPTOR_DIMENSIONED_INLINE:
        copy_dimensioned(destination, e, field_at<void*>(source, e.offset));
        break;
    case DESCRIPTOR_PAIR:
        copy_pair(destination, e, source + e.offset);
        break;
    case DESCRIPTOR_MAP:
        copy_map(field_at<StringMap*>(destination, e.offset), field_at<StringMap*>(source, e.offset));
        break;
    default:
        copy_string(field_at<unit16*>(destination, e.offset), field_at<unit16*>(source, e.offset));
        break;
    }
}

static void copy_plain(unsigned char* destination, const unsigned char* source, int32_t from,
                       int32_t to)
{
    if (from < to)
        std::memcpy(destination + from, source + from, static_cast<size_t>(to - from));
}

void struct_copy(void* destination, int32_t size, const DescriptorWord* descriptor,
                 const void* source)
{
    if (destination == source)
        return;
    auto* to = static_cast<unsigned char*>(destination);
    auto* from = static_cast<const unsigned char*>(source);
    int32_t position = 0;
    walk(descriptor, [&](const DescriptorEntry& e) {
        copy_field(to, e, from);
        copy_plain(to, from, position, e.offset);
        position = e.offset + e.bytes;
    });
    copy_plain(to, from, position, size);
}

int32_t struct_copy_whole(const void* destination, const DescriptorWord* descriptor,
                          const void* source)
{
    int32_t whole = 1;
    walk(descriptor, [&](const DescriptorEntry& e) {
        if (e.code == DESCRIPTOR_ARRAY || e.code == DESCRIPTOR_STRUCT) {
            for_each_embedded(e, [&](int32_t offset, int32_t, const DescriptorWord* sub) {
                whole &= struct_copy_whole(static_cast<const unsigned char*>(destination) + offset,
                                           sub, static_cast<const unsigned char*>(source) + offset);
            });
        } else if (e.code == 0 || e.code == DESCRIPTOR_MAP) {
            whole &= !field_at<const void*>(source, e.offset) ||
                     field_at<const void*>(destination, e.offset);
        }
    });
    return whole;
}

void container_ops_register_map()
{
    container_ops.create_map = map_create;
    container_ops.copy_map = map_copy;
    container_ops.free_map = map_free;
}
