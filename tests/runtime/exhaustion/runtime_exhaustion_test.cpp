// The runtime and its containers when memory runs out at any point: one life
// of the string area, replacement, an object list, a pool and maps whose
// values hold strings and maps, swept over every allocation it makes. Each
// operation gives its right result or a clean refusal, and every block goes
// back.
#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"
#include "runtime/strings/strings.h"
#include "tests/exhaustion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace {

std::u16string text_of(const unit16* s) { return s ? std::u16string(s) : std::u16string(); }

std::u16string replace_all(std::u16string text, const std::u16string& search,
                           const std::u16string& replacement)
{
    std::u16string out;
    size_t at = 0;
    for (size_t found; (found = text.find(search, at)) != std::u16string::npos;
         at = found + search.size())
        out.append(text, at, found - at).append(replacement);
    return out.append(text, at);
}

// ---- Object list --------------------------------------------------------------

struct Thing {
    intptr_t handle;
    intptr_t value;
};

ObjectList* things;

int32_t release_thing(intptr_t number) { return object_release(things, number); }

// Numbered records stay with the list until the heap goes; the count of
// blocks that the list keeps by design.
int32_t blocks_kept_by_list()
{
    if (!things)
        return 0;
    int32_t kept = 2;
    for (int32_t i = 0; i < things->capacity; ++i)
        kept += things->slots[i] != nullptr;
    return kept;
}

void exercise_object_list()
{
    things = object_list_new(sizeof(Thing), 2, release_thing);
    std::vector<intptr_t> numbered, dynamic;
    const auto keep = [](std::vector<intptr_t>& live, intptr_t number, Thing* thing) {
        if (!thing)
            return;
        *thing = Thing{number + 100, number};
        if (std::find(live.begin(), live.end(), number) == live.end())
            live.push_back(number);
    };
    for (intptr_t number : {0, 1, 3, 9})
        keep(numbered, number, static_cast<Thing*>(object_alloc(things, number)));
    auto* extra = static_cast<Thing*>(object_alloc(things, ANY_NUMBER));
    keep(dynamic, reinterpret_cast<intptr_t>(extra), extra);
    auto* again = static_cast<Thing*>(object_alloc(things, 1));
    if (again) {
        EXPECT_EQ(again->handle, 0) << "a reused number comes back released";
    }
    keep(numbered, 1, again);
    object_release(things, 0);
    numbered.erase(std::remove(numbered.begin(), numbered.end(), 0), numbered.end());

    std::vector<intptr_t> live = numbered;
    std::sort(live.begin(), live.end());
    live.insert(live.end(), dynamic.begin(), dynamic.end());
    std::vector<intptr_t> seen;
    intptr_t number = 0;
    object_iter_start(things);
    while (auto* thing = static_cast<Thing*>(object_iter_next(things, &number))) {
        EXPECT_EQ(thing->handle, number + 100);
        seen.push_back(number);
    }
    EXPECT_EQ(seen, live);
    object_list_free_all(things);
    for (intptr_t gone : live)
        EXPECT_EQ(object_get(things, gone), nullptr);
}

// ---- Pool ---------------------------------------------------------------------

void exercise_pool()
{
    BlockPool* pool = pool_create(12, 4, 16, 0);
    if (!pool)
        return;
    std::vector<int32_t*> blocks;
    for (int32_t i = 0; i < 40; ++i) {
        auto* block = static_cast<int32_t*>(pool_alloc(pool));
        if (block) {
            block[0] = block[1] = block[2] = static_cast<int32_t>(blocks.size());
            blocks.push_back(block);
        }
    }
    for (size_t i = 0; i < blocks.size(); i += 2)
        pool_free(pool, blocks[i]);
    for (size_t i = 1; i < blocks.size(); i += 2) {
        const int32_t expected = static_cast<int32_t>(i);
        EXPECT_TRUE(blocks[i][0] == expected && blocks[i][2] == expected) << "block " << i;
        pool_free(pool, blocks[i]);
    }
    pool_destroy(pool);
}

// ---- Strings and replacement ----------------------------------------------------

// Moves the area's result at `saved` into *variable as the protocol does and
// checks it: the expected text, or a refusal that left the empty string or the
// variable's old text.
void take_checked(unit16** variable, uint32_t saved, int32_t produced,
                  const std::u16string& expected)
{
    const std::u16string before = text_of(*variable);
    const bool had_block = *variable != nullptr;
    const int32_t assigned = string_assign(variable, saved);
    EXPECT_EQ(string_offset(), saved);
    if (produced && assigned) {
        EXPECT_TRUE(text_of(*variable) == expected) << "a result reported whole differs";
    } else if (!assigned) {
        EXPECT_EQ(*variable != nullptr, had_block);
        EXPECT_TRUE(text_of(*variable) == before) << "a refused assignment changed the variable";
    } else {
        EXPECT_TRUE(text_of(*variable).empty()) << "a refused result is the empty string";
    }
}

void exercise_strings()
{
    std::u16string source;
    for (int i = 0; i < 700; ++i)
        source += u"\u0391\u0431a\u0438\u0306 ";
    unit16* text = nullptr;
    uint32_t saved = string_offset();
    int32_t pushed = string_push_copy(source.c_str());
    take_checked(&text, saved, pushed, source);

    const std::u16string before = text_of(text);
    int32_t replaced = replace_text(text, u"\u0391", u"\u0410", saved);
    take_checked(&text, saved, replaced, replace_all(before, u"\u0391", u"\u0410"));

    // An argument that lies in the area where the result goes is duplicated first.
    const std::u16string inside = text_of(text);
    unit16* doubled = nullptr;
    pushed = string_push_copy(text);
    const uint32_t argument = string_offset();
    if (pushed) {
        replaced = replace_text(reinterpret_cast<unit16*>(string_area.base + saved), u"a", u"aa",
                                argument);
        const std::u16string expected = replace_all(inside, u"a", u"aa");
        take_checked(&doubled, argument, replaced, expected);
    }
    string_assign(&doubled, saved);

    unit16* copy = nullptr;
    string_new_copy(&copy, text);
    if (copy) {
        EXPECT_EQ(string_equal(copy, text), 1);
    }
    string_free(copy);
    string_free(doubled);
    string_free(text);
    EXPECT_EQ(string_offset(), 0u);
}

// ---- Maps whose values hold a string and a map -------------------------------------

struct Entry {
    unit16* name;
    StringMap* inner;
    int32_t number;
};
// The name, and a map of int32 values under 8-bit keys, four buckets.
const DescriptorWord ENTRY_DESCRIPTOR[] = {
    offsetof(Entry, name), DESCRIPTOR_MAP, offsetof(Entry, inner), 4, 1, 0, 4, DESCRIPTOR_END};
constexpr int32_t ENTRY_KIND = 3;

std::u16string key_of(int32_t i) { return u"key" + std::u16string(1, static_cast<char16_t>(u'a' + i)); }

// A value is whole when it holds its name and its inner map with its number.
bool entry_whole(const Entry* e, int32_t i)
{
    if (!e || text_of(e->name) != key_of(i) + u" name" || !e->inner)
        return false;
    auto* value = static_cast<int32_t*>(map_find_ascii(e->inner, "n"));
    return value && *value == i;
}

void exercise_maps()
{
    StringMap* source = nullptr;
    StringMap* copy = nullptr;
    map_create(sizeof(Entry), ENTRY_KIND, ENTRY_DESCRIPTOR, &source, 8);
    map_create(sizeof(Entry), ENTRY_KIND, ENTRY_DESCRIPTOR, &copy, 8);
    std::vector<int32_t> whole;
    for (int32_t i = 0; i < 12; ++i) {
        auto* entry = static_cast<Entry*>(map_insert(source, key_of(i).c_str(), 0));
        if (!entry)
            continue;
        EXPECT_EQ(entry->name, nullptr);
        string_new_copy(&entry->name, (key_of(i) + u" name").c_str());
        if (entry->inner) {
            if (auto* value = static_cast<int32_t*>(map_insert_ascii(entry->inner, "n", 0)))
                *value = i;
        }
        if (entry_whole(entry, i))
            whole.push_back(i);
    }
    if (map_find(source, key_of(5).c_str()))
        map_delete_current(source);
    whole.erase(std::remove(whole.begin(), whole.end(), 5), whole.end());

    if (map_copy(source, copy, 1)) {
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->element_count, source->element_count);
        for (int32_t i : whole)
            EXPECT_TRUE(entry_whole(static_cast<Entry*>(map_find(copy, key_of(i).c_str())), i))
                << "a copy reported done lacks part of value " << i;
    }
    map_free(copy);
    map_free(source);
}

// ---- The life -----------------------------------------------------------------------

void runtime_life()
{
    main_heap = heap_create();
    string_area_init();
    container_ops_register_map();
    exercise_object_list();
    exercise_pool();
    exercise_strings();
    exercise_maps();
    string_area_end();
    EXPECT_EQ(heap_usage().blocks, blocks_kept_by_list()) << "blocks left behind";
    heap_destroy(main_heap);
    main_heap = nullptr;
    const HeapUsage left = heap_usage();
    EXPECT_EQ(left.heaps, 0);
    EXPECT_EQ(left.blocks, 0);
}

TEST(RuntimeExhaustion, EveryRefusedAllocationGivesTheRightResultOrACleanRefusal)
{
    ASSERT_EQ(heap_usage().heaps, 0);
    sweep_both_ways("runtime exhaustion", runtime_life);
}

}  // namespace
