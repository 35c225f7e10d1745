// Value descriptors: which descriptors need initialisation, the deep copy of
// strings, embedded structures and nested maps, the clear that frees them,
// maps whose values carry them, and the container-operation slots.
#include "map_fixture.h"

#include <cstddef>
#include <vector>

namespace {

// The fields' offsets follow the width: a pointer field starts 4 bytes in at
// 32 bits and 8 at 64.
struct StringValue {
    int32_t head;
    unit16* text;
    int32_t tail;
};

struct MapValue {
    int32_t head;
    StringMap* inner;
    int32_t tail;
};

const DescriptorWord string_field[] = {offsetof(StringValue, text), -1};
const DescriptorWord map_field[] = {-6, offsetof(MapValue, inner), 8, 3, 0, 16, -1};

// A value holding a string variable of the string heap.
unit16* new_string(const unit16* text)
{
    unit16* variable = nullptr;
    string_new_copy(&variable, text);
    return variable;
}

int32_t shared_users(const StringMap* m)
{
    return m->pool->shared_entry ? m->pool->shared_entry->users : 0;
}

}  // namespace

using DescriptorTest = MapFixture;

TEST_F(DescriptorTest, NeedsInitLooksIntoSubStructures)
{
    const DescriptorWord strings[] = {0, 8, -1};
    const DescriptorWord array_of_strings[] = {-2, 3, 0, 8, descriptor_word(strings), -1};
    const DescriptorWord struct_with_map[] = {-3, 4, 12, descriptor_word(map_field), -1};
    const DescriptorWord array_of_maps[] = {-2, 2, 0, 12, descriptor_word(map_field), -1};
    const DescriptorWord pair[] = {0, -5, 4, 1, 2, 3, -1};
    const DescriptorWord dimensioned[] = {-4, 0, 1, 2, 3, 4, -1};
    const DescriptorWord inline_dims[] = {-7, 0, 2, 1, 2, 3, 10, 20, -1};
    struct Case {
        const char* name;
        const DescriptorWord* descriptor;
        int32_t expected;
    } cases[] = {
        {"null", nullptr, 0},
        {"strings only", strings, 0},
        {"array of strings", array_of_strings, 0},
        {"map in an embedded structure", struct_with_map, 1},
        {"maps in an embedded array", array_of_maps, 1},
        {"map field", map_field, 1},
        {"two-word container after a string", pair, 1},
        {"dimensioned container", dimensioned, 1},
        {"container with inline dimensions", inline_dims, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(descriptor_needs_init(c.descriptor), c.expected) << c.name;
}

TEST_F(DescriptorTest, CopyGivesTheDestinationItsOwnString)
{
    StringValue source{0x11223344, new_string(u"text"), 0x55667788};
    StringValue destination{-1, new_string(u"old"), -1};
    struct_copy(&destination, sizeof(StringValue), string_field, &source);
    EXPECT_EQ(destination.head, 0x11223344);
    EXPECT_EQ(destination.tail, 0x55667788);
    ASSERT_NE(destination.text, source.text);
    string_free(source.text);
    EXPECT_EQ(text_of(destination.text), u"text") << "survives the source's release";
    string_free(destination.text);
}

TEST_F(DescriptorTest, CopyOfANullStringEmptiesTheDestination)
{
    StringValue source{1, nullptr, 2};
    StringValue destination{0, new_string(u"old"), 0};
    struct_copy(&destination, sizeof(StringValue), string_field, &source);
    EXPECT_EQ(destination.text, nullptr);
}

TEST_F(DescriptorTest, CopyOntoItselfChangesNothing)
{
    StringValue value{7, new_string(u"same"), 9};
    unit16* const text = value.text;
    struct_copy(&value, sizeof(StringValue), string_field, &value);
    EXPECT_EQ(value.text, text);
    EXPECT_EQ(text_of(value.text), u"same");
    struct_clear(&value, string_field);
    EXPECT_EQ(value.text, nullptr);
}

TEST_F(DescriptorTest, CopyOntoAFieldThatAlreadyHoldsTheSourcesStringOrMapLeavesItIntact)
{
    StringValue source{1, new_string(u"shared"), 2};
    StringValue destination = source;  // a plain copy: both fields name one string
    struct_copy(&destination, sizeof(StringValue), string_field, &source);
    EXPECT_EQ(destination.text, source.text);
    EXPECT_EQ(text_of(source.text), u"shared");
    string_free(source.text);

    MapValue map_source{};
    struct_init(&map_source, map_field);
    ASSERT_NE(map_source.inner, nullptr);
    value_id(map_insert(map_source.inner, u"k", 0)) = 4;
    MapValue map_destination = map_source;
    struct_copy(&map_destination, sizeof(MapValue), map_field, &map_source);
    ASSERT_NE(map_source.inner, nullptr) << "the shared map was freed";
    EXPECT_EQ(map_destination.inner, map_source.inner);
    EXPECT_EQ(value_id(map_find(map_source.inner, u"k")), 4);
    struct_clear(&map_source, map_field);
}

TEST_F(DescriptorTest, CopyWithoutDescriptorCopiesBytes)
{
    StringValue source{1, reinterpret_cast<unit16*>(uintptr_t{0x1234}), 3};
    StringValue destination{};
    struct_copy(&destination, sizeof(StringValue), nullptr, &source);
    EXPECT_EQ(std::memcmp(&destination, &source, sizeof(StringValue)), 0);
}

TEST_F(DescriptorTest, EmbeddedArrayOfStructuresIsCopiedAndClearedDeep)
{
    struct Item {
        unit16* name;
        int32_t number;
    };
    struct Value {
        int32_t tag;
        Item items[2];
    };
    const DescriptorWord item[] = {offsetof(Item, name), -1};
    const DescriptorWord descriptor[] = {-2, 2, offsetof(Value, items), sizeof(Item),
                                         descriptor_word(item), -1};
    Value source{5, {{new_string(u"one"), 1}, {nullptr, 2}}};
    Value destination{};
    struct_copy(&destination, sizeof(Value), descriptor, &source);
    EXPECT_EQ(destination.tag, 5);
    EXPECT_NE(destination.items[0].name, source.items[0].name);
    EXPECT_EQ(text_of(destination.items[0].name), u"one");
    EXPECT_EQ(destination.items[1].name, nullptr);
    EXPECT_EQ(destination.items[0].number, 1);
    EXPECT_EQ(destination.items[1].number, 2);
    struct_clear(&source, descriptor);
    EXPECT_EQ(source.items[0].name, nullptr);
    EXPECT_EQ(text_of(destination.items[0].name), u"one");
    struct_clear(&destination, descriptor);
}

TEST_F(DescriptorTest, MapFieldIsCreatedCopiedAndFreed)
{
    MapValue source{};
    struct_init(&source, map_field);
    ASSERT_NE(source.inner, nullptr);
    EXPECT_EQ(source.inner->value_size, 8);
    EXPECT_EQ(source.inner->value_kind, 3);
    EXPECT_EQ(source.inner->bucket_count, 16);
    EXPECT_EQ(source.inner->owner, &source.inner) << "the field owns the map";
    EXPECT_EQ(source.inner->element_count, 0);
    value_id(map_insert(source.inner, u"a", 0)) = 10;
    value_id(map_insert(source.inner, u"b", 0)) = 20;

    MapValue destination{};
    source.head = 1;
    source.tail = 2;
    struct_copy(&destination, sizeof(MapValue), map_field, &source);
    ASSERT_NE(destination.inner, nullptr);
    EXPECT_NE(destination.inner, source.inner);
    EXPECT_EQ(destination.inner->owner, &destination.inner);
    EXPECT_EQ(destination.inner->element_count, 2);
    EXPECT_EQ(value_id(map_find(destination.inner, u"a")), 10);
    EXPECT_EQ(value_id(map_find(destination.inner, u"b")), 20);
    EXPECT_EQ(destination.head, 1);
    EXPECT_EQ(destination.tail, 2);

    struct_clear(&source, map_field);
    EXPECT_EQ(source.inner, nullptr);
    EXPECT_EQ(value_id(map_find(destination.inner, u"a")), 10) << "the copy is independent";
    struct_clear(&destination, map_field);
    EXPECT_EQ(destination.inner, nullptr);
}

TEST_F(DescriptorTest, CopiedMapFieldKeepsTheKeyModes)
{
    MapValue source{};
    struct_init(&source, map_field);
    ASSERT_NE(source.inner, nullptr);
    source.inner->flags |= MAP_INT_KEYS;
    value_id(map_insert_int(source.inner, -3, 0)) = 30;
    MapValue destination{};
    struct_copy(&destination, sizeof(MapValue), map_field, &source);
    ASSERT_NE(destination.inner, nullptr);
    void* copied = map_find_int(destination.inner, -3);
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(value_id(copied), 30);
    struct_clear(&source, map_field);
    struct_clear(&destination, map_field);
}

TEST_F(DescriptorTest, MapValuesWithStringsAreCopiedAndFreedDeep)
{
    static const DescriptorWord string_at_0[] = {0, -1};
    ASSERT_NE(map_create(sizeof(unit16*), 0, string_at_0, &map, 8), nullptr);
    EXPECT_EQ(map->flags & MAP_INIT_VALUES, 0u) << "strings need no initialisation";
    for (const unit16* key : {u"a", u"b", u"c"})
        string_new_copy(static_cast<unit16**>(map_insert(map, key, 0)), key);
    auto* reused = static_cast<unit16**>(map_insert(map, u"c", 1));
    EXPECT_EQ(*reused, nullptr) << "reuse frees the old string and zeroes the field";
    string_new_copy(reused, u"c2");

    ASSERT_NE(map_create(sizeof(unit16*), 0, string_at_0, &other, 3), nullptr);
    ASSERT_EQ(map_copy(map, other, 1), 1);
    auto* copied = static_cast<unit16**>(map_find(other, u"a"));
    auto* original = static_cast<unit16**>(map_find(map, u"a"));
    ASSERT_NE(copied, nullptr);
    EXPECT_NE(*copied, *original);
    EXPECT_EQ(text_of(*copied), u"a");
    EXPECT_EQ(text_of(*static_cast<unit16**>(map_find(other, u"c"))), u"c2");

    map_reset(map);
    while (map_next(map))
        map_delete_current(map);  // each frees its string once
    EXPECT_EQ(text_of(*copied), u"a");
    map_clear(other);
    EXPECT_EQ(other->element_count, 0);
}

TEST_F(DescriptorTest, NestedMapsFollowTheirOuterElements)
{
    // Outer and inner values are one pointer wide, so all the maps share one pool.
    static const DescriptorWord inner_map[] = {-6, 0, sizeof(void*), 0, 0, 8, -1};
    ASSERT_NE(map_create(sizeof(void*), 0, inner_map, &map, 8), nullptr);
    EXPECT_NE(map->flags & MAP_INIT_VALUES, 0u);
    const int32_t users_alone = shared_users(map);
    for (int32_t outer = 0; outer < 3; ++outer) {
        auto** inner = static_cast<StringMap**>(map_insert(map, std::u16string(1, u'x' + outer).c_str(), 0));
        ASSERT_NE(*inner, nullptr) << "insert creates the nested map";
        EXPECT_EQ((*inner)->owner, inner);
        value_id(map_insert(*inner, u"n", 0)) = outer;
    }
    EXPECT_EQ(shared_users(map), users_alone + 3) << "one value size everywhere: one pool";

    ASSERT_NE(map_create(sizeof(void*), 0, inner_map, &other, 2), nullptr);
    ASSERT_EQ(map_copy(map, other, 1), 1);
    auto** copied = static_cast<StringMap**>(map_find(other, u"y"));
    auto** original = static_cast<StringMap**>(map_find(map, u"y"));
    ASSERT_NE(*copied, nullptr);
    EXPECT_NE(*copied, *original);
    EXPECT_EQ(value_id(map_find(*copied, u"n")), 1);
    EXPECT_EQ(shared_users(map), users_alone + 1 + 6);

    map_find(map, u"y");
    map_delete_current(map);
    EXPECT_EQ(shared_users(map), users_alone + 1 + 5) << "deleting an element frees its map";
    map_insert(map, u"x", 1);
    EXPECT_EQ(shared_users(map), users_alone + 1 + 5) << "reuse replaces the nested map";
    map_clear(other);
    EXPECT_EQ(shared_users(map), users_alone + 1 + 2);
}

// ---- Container kinds that only reach us through the slots -------------------------------

namespace {

std::vector<std::vector<intptr_t>> slot_calls;

void* record_create_dimensioned(int32_t a, int32_t b, int32_t c, int32_t d, void* field)
{
    slot_calls.push_back({1, a, b, c, d, reinterpret_cast<intptr_t>(field)});
    return nullptr;
}

void* record_create_inline(int32_t n, int32_t a, int32_t b, int32_t c, void* field)
{
    slot_calls.push_back({2, n, a, b, c, reinterpret_cast<intptr_t>(field)});
    return nullptr;
}

void* record_create_pair(int32_t a, void* field, int32_t b, int32_t c)
{
    slot_calls.push_back({3, a, reinterpret_cast<intptr_t>(field), b, c});
    return nullptr;
}

void record_free_dimensioned(void* container)
{
    slot_calls.push_back({8, reinterpret_cast<intptr_t>(container)});
}

void record_free_pair(void* field) { slot_calls.push_back({9, reinterpret_cast<intptr_t>(field)}); }

}  // namespace

TEST_F(DescriptorTest, OtherContainerKindsGoThroughTheirSlots)
{
    struct WithDimensions {
        void* container;
        int32_t dims[2];
    };
    struct Value {
        void* dimensioned;
        void* pair[2];  // a pointer and a second word of its width
        WithDimensions with_dims;
    } value{};
    const DescriptorWord descriptor[] = {
        -4, offsetof(Value, dimensioned), 1, 2, 3, 4,
        -5, offsetof(Value, pair), 5, 6, 7,
        -7, offsetof(Value, with_dims), 2, 8, 9, 10, 40, 50,
        -1};
    const auto at = [&](const void* field) { return reinterpret_cast<intptr_t>(field); };

    struct_init(&value, descriptor);
    EXPECT_TRUE(slot_calls.empty()) << "empty slots are skipped";
    EXPECT_EQ(value.with_dims.dims[0], 40) << "dimensions are written even so";
    EXPECT_EQ(value.with_dims.dims[1], 50);

    container_ops.create_dimensioned = record_create_dimensioned;
    container_ops.create_dimensioned_inline = record_create_inline;
    container_ops.create_pair = record_create_pair;
    container_ops.free_dimensioned = record_free_dimensioned;
    container_ops.free_pair = record_free_pair;
    struct_init(&value, descriptor);
    value.dimensioned = reinterpret_cast<void*>(uintptr_t{0x100});
    value.with_dims.container = reinterpret_cast<void*>(uintptr_t{0x200});
    struct_clear(&value, descriptor);
    const std::vector<std::vector<intptr_t>> expected = {
        {1, 1, 2, 3, 4, at(&value.dimensioned)},
        {3, 5, at(value.pair), 6, 7},
        {2, 2, 8, 9, 10, at(&value.with_dims)},
        {8, 0x100},
        {9, at(value.pair)},
        {8, 0x200},
    };
    EXPECT_EQ(slot_calls, expected);
    EXPECT_EQ(value.dimensioned, nullptr) << "freed fields read as empty";
    EXPECT_EQ(value.with_dims.container, nullptr);
    slot_calls.clear();
}
