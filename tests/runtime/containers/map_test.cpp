// The hash map: key hashing and placement, lookups, insertion with and
// without reuse, the cursor with deletion, the owner variable, copies, and
// the failure paths.
#include "map_fixture.h"

#include <climits>
#include <vector>

namespace {

// The bucket whose chain holds the element of `value`, or -1.
int32_t bucket_holding(const StringMap* m, const void* value)
{
    for (int32_t b = 0; b < m->bucket_count; ++b)
        for (const MapElement* e = m->buckets[b]; e; e = e->next)
            if (e->value == value)
                return b;
    return -1;
}

// Ids of one full iteration, in order.
std::vector<int32_t> iterate_ids(StringMap* m)
{
    std::vector<int32_t> ids;
    map_reset(m);
    while (void* value = map_next(m))
        ids.push_back(value_id(value));
    return ids;
}

struct HashCase {
    const char* key;
    uint32_t hash;
};

// sdbm values; the bucket is the hash modulo the bucket count.
const HashCase hash_cases[] = {
    {"abc", 807794786u},
    {"", 0u},
    {"13100:0:1:768", 18156891u},
};

std::u16string widen(const char* s)
{
    std::u16string wide;
    for (; *s; ++s)
        wide.push_back(static_cast<unsigned char>(*s));
    return wide;
}

}  // namespace

using MapTest = MapFixture;

TEST_F(MapTest, KeysLandInTheirSdbmBucketInBothKeyForms)
{
    for (int32_t buckets : {1024, 1000, 997}) {
        for (const HashCase& c : hash_cases) {
            const int32_t expected = static_cast<int32_t>(c.hash % static_cast<uint32_t>(buckets));
            ASSERT_NE(map_create(4, 0, nullptr, &map, buckets), nullptr);
            void* wide = map_insert(map, widen(c.key).c_str(), 0);
            EXPECT_EQ(bucket_holding(map, wide), expected) << "UTF-16 key '" << c.key << "' of " << buckets;
            ASSERT_NE(map_create(4, 0, nullptr, &map, buckets), nullptr);
            void* narrow = map_insert_ascii(map, c.key, 0);
            EXPECT_EQ(bucket_holding(map, narrow), expected) << "8-bit key '" << c.key << "' of " << buckets;
        }
    }
}

TEST_F(MapTest, HighBytesHashSignedButHighUnitsUnsigned)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 1024), nullptr);
    // 0xE9 as a byte counts as -23: hash 0xFFFFFFE9, bucket 1001; as a unit 233.
    EXPECT_EQ(bucket_holding(map, map_insert_ascii(map, "\xE9", 0)), 1001);
    EXPECT_EQ(bucket_holding(map, map_insert(map, u"\u00E9", 0)), 233);
}

TEST_F(MapTest, CaseInsensitiveModeFoldsOnlyAsciiLetters)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 1024), nullptr);
    map->flags |= MAP_CASE_INSENSITIVE;
    void* abc = map_insert(map, u"ABC", 0);
    EXPECT_EQ(bucket_holding(map, abc), 98) << "hashed as abc";
    EXPECT_EQ(map_find(map, u"aBc"), abc);
    void* e_acute = map_insert(map, u"\u00E9", 0);
    EXPECT_EQ(map_find(map, u"\u00C9"), nullptr) << "accented capitals are not letters A-Z";
    EXPECT_EQ(map_find(map, u"\u00E9"), e_acute);

    ASSERT_NE(map_create(4, 0, nullptr, &other, 1024), nullptr);
    other->flags |= MAP_CASE_INSENSITIVE;
    void* narrow = map_insert_ascii(other, "Key:1", 0);
    EXPECT_EQ(map_find_ascii(other, "kEY:1"), narrow);
    EXPECT_EQ(map_find_ascii(other, "kEY:2"), nullptr);
}

TEST_F(MapTest, BucketCountBelowOneGivesOneBucket)
{
    for (int32_t requested : {0, -5, INT_MIN}) {
        ASSERT_NE(map_create(4, 0, nullptr, &map, requested), nullptr);
        EXPECT_EQ(map->bucket_count, 1) << "requested " << requested;
        value_id(map_insert(map, u"x", 0)) = 1;
        value_id(map_insert(map, u"y", 0)) = 2;
        EXPECT_EQ(iterate_ids(map), (std::vector<int32_t>{2, 1}));
    }
}

TEST_F(MapTest, UnallocatableShapesFailWithTheOwnerNull)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 16), nullptr);
    EXPECT_EQ(map_create(4, 0, nullptr, &map, INT_MAX), nullptr) << "bucket array would overflow";
    EXPECT_EQ(map, nullptr) << "the old map is freed first";
    EXPECT_EQ(map_create(-1, 0, nullptr, &map, 16), nullptr);
    heap_fail_next(1);
    EXPECT_EQ(map_create(4, 0, nullptr, &map, 16), nullptr) << "record refused";
    heap_fail_next(0);
    EXPECT_EQ(map, nullptr);
}

TEST_F(MapTest, NullKeyIsTheEmptyKey)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 8), nullptr);
    void* empty = map_insert(map, nullptr, 0);
    EXPECT_EQ(map_find(map, u""), empty);
    EXPECT_EQ(map_find(map, nullptr), empty);
    EXPECT_EQ(map_insert(map, u"", 1), empty) << "reuse finds the null-key element";

    ASSERT_NE(map_create(4, 0, nullptr, &other, 8), nullptr);
    void* narrow = map_insert_ascii(other, nullptr, 0);
    EXPECT_EQ(map_find_ascii(other, ""), narrow);
    EXPECT_EQ(map_find_ascii(other, nullptr), narrow);
}

TEST_F(MapTest, InsertWithoutReuseHidesTheOlderEqualKey)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 16), nullptr);
    void* first = map_insert(map, u"k", 0);
    value_id(first) = 1;
    void* second = map_insert(map, u"k", 0);
    value_id(second) = 2;
    EXPECT_NE(first, second);
    EXPECT_EQ(map->element_count, 2);
    EXPECT_EQ(map_find(map, u"k"), second);
    EXPECT_EQ(map_delete_current(map), nullptr) << "the found element was its chain's head";
    EXPECT_EQ(map->element_count, 1);
    EXPECT_EQ(map_find(map, u"k"), first) << "the older element shows again";
    EXPECT_EQ(value_id(first), 1);
}

TEST_F(MapTest, InsertWithReuseZeroesTheSameValue)
{
    ASSERT_NE(map_create(12, 0, nullptr, &map, 16), nullptr);
    auto* value = static_cast<unsigned char*>(map_insert(map, u"k", 1));
    ASSERT_NE(value, nullptr);
    std::memset(value, 0xAB, 12);
    EXPECT_EQ(map_insert(map, u"k", 1), value);
    EXPECT_EQ(map->element_count, 1);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(value[i], 0) << "byte " << i;
    EXPECT_NE(map_insert(map, u"other", 1), nullptr);
    EXPECT_EQ(map->element_count, 2) << "reuse of an absent key inserts";
}

TEST_F(MapTest, FindAndInsertMoveTheCursorButAMissDoesNot)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 4), nullptr);
    for (int32_t id = 1; id <= 6; ++id)
        value_id(map_insert(map, std::u16string(1, u'a' + id).c_str(), 0)) = id;
    map_reset(map);
    void* first = map_next(map);
    EXPECT_EQ(map_find(map, u"zz"), nullptr);
    EXPECT_EQ(map->current->value, first);
    void* found = map_find(map, u"d");
    EXPECT_EQ(map->current->value, found);
}

TEST_F(MapTest, MissedLookupsDuringIterationKeepTheDeletePosition)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 2), nullptr);
    for (int32_t id = 0; id < 12; ++id)
        value_id(map_insert(map, widen(std::to_string(id).c_str()).c_str(), 0)) = id;
    const std::vector<int32_t> all = iterate_ids(map);
    std::vector<int32_t> ids;
    map_reset(map);
    for (bool remove = false; void* value = map_next(map); remove = !remove) {
        ids.push_back(value_id(value));
        for (const unit16* absent : {u"x", u"yy", u"zzz", u"zz"})
            EXPECT_EQ(map_find(map, absent), nullptr);
        if (remove)
            map_delete_current(map);
    }
    EXPECT_EQ(ids, all);
    EXPECT_EQ(map->element_count, 6);
}

TEST_F(MapTest, DeletingAfterEveryStepEmptiesTheMap)
{
    for (int32_t buckets : {1, 3, 64}) {
        ASSERT_NE(map_create(4, 0, nullptr, &map, buckets), nullptr);
        for (int32_t id = 0; id < 40; ++id)
            value_id(map_insert(map, widen(std::to_string(id % 13).c_str()).c_str(), 0)) = id;
        std::vector<bool> seen(40, false);
        map_reset(map);
        int32_t visits = 0;
        while (void* value = map_next(map)) {
            EXPECT_FALSE(seen[value_id(value)]) << "visited twice: " << value_id(value);
            seen[value_id(value)] = true;
            ++visits;
            map_delete_current(map);
        }
        EXPECT_EQ(visits, 40) << buckets << " buckets";
        EXPECT_EQ(map->element_count, 0);
        EXPECT_EQ(iterate_ids(map), std::vector<int32_t>{});
    }
}

TEST_F(MapTest, DeleteReturnsThePredecessorsValue)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 1), nullptr);
    for (int32_t id = 1; id <= 3; ++id)
        value_id(map_insert(map, u"k", 0)) = id;
    map_reset(map);
    void* three = map_next(map);
    map_next(map);
    EXPECT_EQ(map_delete_current(map), three);
    EXPECT_EQ(value_id(map_next(map)), 1) << "the element after the deleted one";
    EXPECT_EQ(map_next(map), nullptr);
}

TEST_F(MapTest, EndOfIterationHoldsUntilReset)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 8), nullptr);
    value_id(map_insert(map, u"a", 0)) = 1;
    value_id(map_insert(map, u"b", 0)) = 2;
    map_reset(map);
    int32_t steps = 0;
    while (map_next(map))
        ++steps;
    EXPECT_EQ(steps, 2);
    EXPECT_EQ(map_next(map), nullptr);
    EXPECT_EQ(map_next(map), nullptr);
    EXPECT_EQ(map_delete_current(map), nullptr) << "nothing is current at the end";
    EXPECT_EQ(map->element_count, 2);
    map_reset(map);
    EXPECT_NE(map_next(map), nullptr);
}

TEST_F(MapTest, RepeatedDeleteWithoutStepNeverTouchesAFreedElement)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 1), nullptr);
    for (int32_t id = 1; id <= 4; ++id)
        value_id(map_insert(map, u"k", 0)) = id;
    map_reset(map);
    map_next(map);
    map_next(map);
    EXPECT_EQ(value_id(map_next(map)), 2);
    EXPECT_EQ(value_id(map_delete_current(map)), 3) << "deleted 2, back on 3";
    EXPECT_EQ(map_delete_current(map), nullptr) << "deleted 3; no predecessor is known";
    EXPECT_EQ(map_delete_current(map), nullptr) << "nothing current";
    EXPECT_EQ(map->element_count, 2);
    EXPECT_EQ(iterate_ids(map), (std::vector<int32_t>{4, 1}));
}

TEST_F(MapTest, OwnerVariableFollowsTheMap)
{
    StringMap* first = map_create(4, 0, nullptr, &map, 8);
    ASSERT_EQ(map, first);
    const int32_t users = map->pool->shared_entry->users;
    StringMap* second = map_create(4, 0, nullptr, &map, 8);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(map, second);
    EXPECT_EQ(map->pool->shared_entry->users, users) << "the first map gave its pool user back";
    map_free(map);
    EXPECT_EQ(map, nullptr);
    map_free(nullptr);

    StringMap* unowned = map_create(4, 0, nullptr, nullptr, 8);
    ASSERT_NE(unowned, nullptr);
    map_free(unowned);
}

TEST_F(MapTest, FreeLeavesAnOwnerThatNamesAnotherMap)
{
    StringMap* first = map_create(4, 0, nullptr, &map, 8);
    ASSERT_NE(map_create(4, 0, nullptr, &other, 8), nullptr);
    map = other;  // the variable now names a map it does not own
    map_free(first);
    EXPECT_EQ(map, other);
    map = nullptr;
}

TEST_F(MapTest, MapsOfOneStrideShareOnePool)
{
    ASSERT_NE(map_create(8, 7, nullptr, &map, 1024), nullptr);
    ASSERT_NE(map_create(5, 0, nullptr, &other, 2), nullptr);
    EXPECT_EQ(map->pool, other->pool) << "values of 8 and 5 bytes give one stride";
    EXPECT_EQ(map->pool->stride, static_cast<int32_t>(by_width(20, 32)));
    EXPECT_EQ(map->pool->min_per_chunk, 16);
    EXPECT_EQ(map->pool->max_per_chunk, 65536);
}

TEST_F(MapTest, CopyKeepsTheSourceCursor)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 4), nullptr);
    for (int32_t id = 0; id < 10; ++id)
        value_id(map_insert(map, widen(std::to_string(id).c_str()).c_str(), 0)) = id;
    const std::vector<int32_t> all = iterate_ids(map);

    ASSERT_NE(map_create(4, 0, nullptr, &other, 7), nullptr);
    std::vector<int32_t> ids;
    map_reset(map);
    for (int i = 0; i < 4; ++i)
        ids.push_back(value_id(map_next(map)));
    EXPECT_EQ(map_copy(map, other, 1), 1);
    map_delete_current(map);  // the cursor's predecessor survives the copy too
    while (void* value = map_next(map))
        ids.push_back(value_id(value));
    EXPECT_EQ(ids, all);
    EXPECT_EQ(map->element_count, 9);
    EXPECT_EQ(other->element_count, 10);
}

TEST_F(MapTest, CopyShowsTheSameElementOfEqualKeys)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 4), nullptr);
    for (int32_t id = 1; id <= 3; ++id)
        value_id(map_insert(map, u"k", 0)) = id;
    ASSERT_NE(map_create(4, 0, nullptr, &other, 4), nullptr);
    value_id(map_insert(other, u"k", 0)) = 99;
    EXPECT_EQ(map_copy(map, other, 0), 1);
    EXPECT_EQ(other->element_count, 4);
    EXPECT_EQ(value_id(map_find(other, u"k")), 3);
    EXPECT_EQ(iterate_ids(other), (std::vector<int32_t>{3, 2, 1, 99}));

    EXPECT_EQ(map_copy(map, other, 1), 1);
    EXPECT_EQ(iterate_ids(other), (std::vector<int32_t>{3, 2, 1}));
}

TEST_F(MapTest, CopyRefusesWhatItCannotDo)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 4), nullptr);
    value_id(map_insert(map, u"k", 0)) = 1;
    EXPECT_EQ(map_copy(map, nullptr, 1), 0);
    EXPECT_EQ(map_copy(nullptr, map, 1), 0);
    EXPECT_EQ(map_copy(map, map, 1), 1) << "onto itself: nothing to do";
    EXPECT_EQ(iterate_ids(map), std::vector<int32_t>{1});
    ASSERT_NE(map_create(8, 0, nullptr, &other, 4), nullptr);
    value_id(map_insert(other, u"x", 0)) = 5;
    EXPECT_EQ(map_copy(other, map, 1), 0) << "8-byte values do not fit 4-byte ones";
    EXPECT_EQ(iterate_ids(map), std::vector<int32_t>{1}) << "destination untouched";
}

TEST_F(MapTest, CopyIntoLargerValuesFillsTheirStartAndLeavesTheRestZero)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 4), nullptr);
    value_id(map_insert(map, u"k", 0)) = 7;
    ASSERT_NE(map_create(8, 0, nullptr, &other, 4), nullptr);
    EXPECT_EQ(map_copy(map, other, 1), 1);
    auto* copied = static_cast<int32_t*>(map_find(other, u"k"));
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied[0], 7);
    EXPECT_EQ(copied[1], 0);
}

TEST_F(MapTest, CopyKeepsEightBitKeysEightBit)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 1024), nullptr);
    value_id(map_insert_ascii(map, "13100:0:1:768", 0)) = 7;
    ASSERT_NE(map_create(4, 0, nullptr, &other, 64), nullptr);
    EXPECT_EQ(map_copy(map, other, 1), 1);
    void* copied = map_find_ascii(other, "13100:0:1:768");
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(value_id(copied), 7);
}

TEST_F(MapTest, ClearedMapCopiesItsLaterWideKeysWide)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 64), nullptr);
    ASSERT_NE(map_insert_ascii(map, "narrow", 0), nullptr);
    map_clear(map);
    value_id(map_insert(map, u"wide", 0)) = 5;
    ASSERT_NE(map_create(4, 0, nullptr, &other, 64), nullptr);
    EXPECT_EQ(map_copy(map, other, 1), 1);
    void* copied = map_find(other, u"wide");
    ASSERT_NE(copied, nullptr) << "the wide key was copied as an 8-bit one";
    EXPECT_EQ(value_id(copied), 5);
}

TEST_F(MapTest, IntKeysUseNonNegativeBuckets)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 10), nullptr);
    map->flags |= MAP_INT_KEYS;
    const int32_t keys[] = {0, 7, -7, 17, -13, INT_MIN, INT_MAX};
    for (int32_t key : keys) {
        void* value = map_insert_int(map, key, 0);
        ASSERT_NE(value, nullptr);
        value_id(value) = key;
        const int32_t bucket = bucket_holding(map, value);
        EXPECT_GE(bucket, 0) << "key " << key;
        EXPECT_EQ(bucket, ((key % 10) + 10) % 10) << "key " << key;
    }
    for (int32_t key : keys)
        EXPECT_EQ(value_id(map_find_int(map, key)), key);
    EXPECT_EQ(map_find_int(map, 3), nullptr);
    EXPECT_EQ(map_insert(map, u"text", 0), nullptr) << "text keys do not fit an int-key map";
    EXPECT_EQ(map_find(map, u"text"), nullptr);

    ASSERT_NE(map_create(4, 0, nullptr, &other, 3), nullptr);
    EXPECT_EQ(map_insert_int(other, 1, 0), nullptr) << "int keys do not fit a text-key map";
    other->flags |= MAP_INT_KEYS;
    EXPECT_EQ(map_copy(map, other, 1), 1);
    EXPECT_EQ(value_id(map_find_int(other, -13)), -13);
    map_clear(map);
    EXPECT_EQ(map->element_count, 0);
    EXPECT_EQ(map_find_int(map, 7), nullptr);
}

TEST_F(MapTest, RefusedKeyCopyLeavesTheMapUnchanged)
{
    ASSERT_NE(map_create(4, 0, nullptr, &map, 8), nullptr);
    value_id(map_insert(map, u"present", 0)) = 1;  // the pool now has an open chunk
    heap_fail_next(1);
    EXPECT_EQ(map_insert(map, u"absent", 0), nullptr);
    heap_fail_next(1);
    EXPECT_EQ(map_insert_ascii(map, "absent", 0), nullptr);
    heap_fail_next(0);
    EXPECT_EQ(map->element_count, 1);
    EXPECT_EQ(map_find(map, u"absent"), nullptr);
    EXPECT_EQ(iterate_ids(map), std::vector<int32_t>{1});
}

TEST_F(MapTest, NullMapIsANoOp)
{
    EXPECT_EQ(map_insert(nullptr, u"k", 0), nullptr);
    EXPECT_EQ(map_insert_ascii(nullptr, "k", 1), nullptr);
    EXPECT_EQ(map_insert_int(nullptr, 1, 0), nullptr);
    EXPECT_EQ(map_find(nullptr, u"k"), nullptr);
    EXPECT_EQ(map_find_ascii(nullptr, "k"), nullptr);
    EXPECT_EQ(map_find_int(nullptr, 1), nullptr);
    EXPECT_EQ(map_next(nullptr), nullptr);
    EXPECT_EQ(map_delete_current(nullptr), nullptr);
    map_reset(nullptr);
    map_clear(nullptr);
}
