#include "runtime/objects/objects.h"

#include <cstring>

HeapHandle main_heap;
void* instance_handle;

static_assert(sizeof(ObjectList) == by_width(32, 56), "ObjectList keeps its layout");
static_assert(sizeof(DynamicNode) == by_width(8, 16), "a dynamic record follows two links");

// Two decisions beyond the bare lookup rules:
// - A number outside 0 .. capacity-1 is taken as a dynamic record's address
//   only after it has been found on the list's chain of dynamic objects; any
//   other number is unknown, so object_get gives null and object_release
//   does nothing. Numbered lookups stay one bounds test and one index.
// - When the main heap refuses a block, nothing is written through null: the
//   creation fails (null) and the list stays exactly as it was, capacity
//   included.

static char* record_of(DynamicNode* node) { return reinterpret_cast<char*>(node + 1); }

static DynamicNode* node_of(void* record) { return static_cast<DynamicNode*>(record) - 1; }

static intptr_t number_of(DynamicNode* node)
{
    return reinterpret_cast<intptr_t>(record_of(node));
}

static int32_t is_slot_number(const ObjectList* list, intptr_t number)
{
    return number >= 0 && number < list->capacity;
}

// The handle is read whole: a handle whose low 32 bits are all 0 is still one.
static int32_t record_exists(const void* record)
{
    return record && *static_cast<const intptr_t*>(record) != 0;
}

static DynamicNode* find_dynamic(const ObjectList* list, intptr_t number)
{
    for (DynamicNode* node = list->dynamic_head; node; node = node->next)
        if (number_of(node) == number)
            return node;
    return nullptr;
}

ObjectList* object_list_new(int32_t object_size, int32_t initial_capacity, FreeCallback cb)
{
    // A capacity whose slot array does not fit 32 bits would wrap to a tiny one.
    if (object_size < static_cast<int32_t>(sizeof(intptr_t)) || initial_capacity < 0 ||
        static_cast<uint32_t>(initial_capacity) > UINT32_MAX / sizeof(void*))
        return nullptr;
    auto* list = static_cast<ObjectList*>(heap_alloc(main_heap, sizeof(ObjectList), 1));
    if (!list)
        return nullptr;
    list->slots = static_cast<void**>(
        heap_alloc(main_heap, static_cast<uint32_t>(initial_capacity) * sizeof(void*), 1));
    if (!list->slots) {
        heap_free(main_heap, list);
        return nullptr;
    }
    list->object_size = object_size;
    list->grow_step = initial_capacity;
    list->capacity = initial_capacity;
    list->free_callback = cb;
    return list;
}

// Grows the slot array to number + grow_step entries (at least number + 1,
// so a list made with capacity 0 still covers the number). 0, list
// unchanged, when the heap refuses or the size does not fit 32 bits.
static int32_t grow_slots(ObjectList* list, intptr_t number)
{
    int64_t step = list->grow_step > 0 ? list->grow_step : 1;
    if (number > INT32_MAX - step)
        return 0;
    int64_t wanted = static_cast<int64_t>(number) + step;
    uint64_t bytes = static_cast<uint64_t>(wanted) * sizeof(void*);
    if (bytes > UINT32_MAX)
        return 0;
    auto* slots = static_cast<void**>(
        heap_realloc(main_heap, list->slots, static_cast<uint32_t>(bytes)));
    if (!slots)
        return 0;
    std::memset(slots + list->capacity, 0,
                static_cast<size_t>(wanted - list->capacity) * sizeof(void*));
    list->slots = slots;
    list->capacity = static_cast<int32_t>(wanted);
    return 1;
}

// A fresh zeroed record stored in the slot of `number`, growing the array if
// needed; null with the list unchanged when memory is short.
static void* alloc_numbered(ObjectList* list, intptr_t number)
{
    void* record = heap_alloc(main_heap, static_cast<uint32_t>(list->object_size), 1);
    if (!record)
        return nullptr;
    if (number >= list->capacity && !grow_slots(list, number)) {
        heap_free(main_heap, record);
        return nullptr;
    }
    list->slots[number] = record;
    return record;
}

void* object_alloc(ObjectList* list, intptr_t number)
{
    if (!list || number < ANY_NUMBER)
        return nullptr;
    if (number == ANY_NUMBER)
        return linked_alloc(&list->dynamic_head,
                            list->object_size + static_cast<int32_t>(sizeof(DynamicNode)));
    if (number >= list->capacity || !list->slots[number])
        return alloc_numbered(list, number);
    if (list->free_callback)
        list->free_callback(number);
    return list->slots[number];
}

void* object_get(ObjectList* list, intptr_t number)
{
    if (!list)
        return nullptr;
    if (is_slot_number(list, number)) {
        void* record = list->slots[number];
        return record_exists(record) ? record : nullptr;
    }
    DynamicNode* node = find_dynamic(list, number);
    return node && record_exists(record_of(node)) ? record_of(node) : nullptr;
}

int32_t object_release(ObjectList* list, intptr_t number)
{
    if (!list)
        return 0;
    if (is_slot_number(list, number)) {
        void* record = list->slots[number];
        if (!record)
            return 0;
        std::memset(record, 0, static_cast<size_t>(list->object_size));
        return 1;
    }
    DynamicNode* node = find_dynamic(list, number);
    if (!node)
        return 0;
    // A walk that would hand this node out next moves on to the newer one, so
    // a callback may release objects other than the one it was given.
    if (list->iter_node == node)
        list->iter_node = node->prev;
    linked_free(&list->dynamic_head, record_of(node));
    return 1;
}

void object_list_free_all(ObjectList* list)
{
    if (!list || !list->free_callback)
        return;
    object_iter_start(list);
    intptr_t number = 0;
    while (object_iter_next(list, &number))
        list->free_callback(number);
}

void object_iter_start(ObjectList* list)
{
    if (!list)
        return;
    list->iter_index = 0;
    DynamicNode* oldest = list->dynamic_head;
    while (oldest && oldest->next)
        oldest = oldest->next;
    list->iter_node = oldest;
}

void* object_iter_next(ObjectList* list, intptr_t* number)
{
    if (!list)
        return nullptr;
    while (is_slot_number(list, list->iter_index)) {
        int32_t index = list->iter_index++;
        void* record = list->slots[index];
        if (record_exists(record)) {
            if (number)
                *number = index;
            return record;
        }
    }
    DynamicNode* node = list->iter_node;
    if (!node)
        return nullptr;
    list->iter_node = node->prev;
    if (number)
        *number = number_of(node);
    return record_of(node);
}

void* linked_alloc(DynamicNode** head, int32_t total_size)
{
    if (total_size < static_cast<int32_t>(sizeof(DynamicNode)))
        return nullptr;
    auto* node = static_cast<DynamicNode*>(
        heap_alloc(main_heap, static_cast<uint32_t>(total_size), 1));
    if (!node)
        return nullptr;
    if (*head) {
        (*head)->prev = node;
        node->next = *head;
    }
    *head = node;
    return record_of(node);
}

void linked_free(DynamicNode** head, void* record)
{
    if (!record)
        return;
    DynamicNode* node = node_of(record);
    if (node == *head) {
        *head = node->next;
        if (node->next)
            node->next->prev = nullptr;
    } else {
        node->prev->next = node->next;
        if (node->next)
            node->next->prev = node->prev;
    }
    heap_free(main_heap, node);
}

void* thread_data_new(int32_t size, void (*constructor)(void*), void (*)(void*))
{
    if (size < 0)
        return nullptr;
    void* record = heap_alloc(main_heap, static_cast<uint32_t>(size), 1);
    if (record && constructor)
        constructor(record);
    return record;
}

void* thread_data_get(void* record) { return record; }

int32_t number_text(char* text, intptr_t number)
{
    uintptr_t magnitude = static_cast<uintptr_t>(number);
    char* out = text;
    if (number < 0) {
        *out++ = '-';
        magnitude = 0u - magnitude;
    }
    char reversed[NUMBER_TEXT_SIZE];
    int32_t count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count > 0)
        *out++ = reversed[--count];
    *out = '\0';
    return static_cast<int32_t>(out - text);
}
