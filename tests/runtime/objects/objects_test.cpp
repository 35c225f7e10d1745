#include "runtime/objects/objects.h"
#include "tests/runtime/objects/heap_fixture.h"

#include <gtest/gtest.h>
#include <cstdint>
#include <vector>

namespace {

// Laid out as the toolkit's records: a pointer-sized handle first.
struct Record {
    intptr_t handle;  // nonzero while the object exists
    intptr_t payload[3];
};

// The kind's release routine as the toolkit writes it: destroy, then release.
ObjectList* released_list;
std::vector<intptr_t> released_numbers;

int32_t release_object(intptr_t number)
{
    released_numbers.push_back(number);
    return object_release(released_list, number);
}

class ObjectListTest : public MainHeapTest {
protected:
    void SetUp() override
    {
        MainHeapTest::SetUp();
        released_numbers.clear();
    }
    ObjectList* make_list(int32_t capacity, FreeCallback cb = release_object)
    {
        ObjectList* list = object_list_new(sizeof(Record), capacity, cb);
        released_list = list;
        return list;
    }
    static Record* create(ObjectList* list, intptr_t number, intptr_t handle)
    {
        auto* record = static_cast<Record*>(object_alloc(list, number));
        if (record)
            record->handle = handle;
        return record;
    }
};

intptr_t number_of(const void* record)
{
    return reinterpret_cast<intptr_t>(record);
}

DynamicNode* node_of_record(void* record) { return static_cast<DynamicNode*>(record) - 1; }

std::vector<intptr_t> walk(ObjectList* list)
{
    std::vector<intptr_t> numbers;
    intptr_t number = 0;
    object_iter_start(list);
    while (object_iter_next(list, &number))
        numbers.push_back(number);
    return numbers;
}

}  // namespace

TEST_F(ObjectListTest, NewListHasItsCapacityAsGrowStepAndNothingInIt)
{
    ObjectList* list = make_list(50);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->object_size, static_cast<int32_t>(sizeof(Record)));
    EXPECT_EQ(list->grow_step, 50);
    EXPECT_EQ(list->capacity, 50);
    for (int32_t n = 0; n < 50; ++n)
        ASSERT_EQ(list->slots[n], nullptr) << "slot " << n;
    EXPECT_TRUE(walk(list).empty());
}

TEST_F(ObjectListTest, GrowthGivesRequestedNumberPlusStepAndKeepsRecordsInPlace)
{
    struct Case {
        int32_t number;
        int32_t capacity_after;
    };
    const Case cases[] = {{0, 50}, {49, 50}, {50, 100}, {99, 100}, {500, 550}};
    ObjectList* list = make_list(50);
    std::vector<Record*> records;
    for (const Case& c : cases) {
        Record* record = create(list, c.number, 1);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(list->capacity, c.capacity_after) << "after number " << c.number;
        records.push_back(record);
        for (size_t i = 0; i < records.size(); ++i)
            EXPECT_EQ(object_get(list, cases[i].number), records[i])
                << "number " << cases[i].number << " moved";
    }
    for (int32_t n = 100; n < 550; ++n) {
        if (n != 500) {
            ASSERT_EQ(list->slots[n], nullptr) << "grown slot " << n << " not zeroed";
        }
    }
}

TEST_F(ObjectListTest, ListMadeWithoutCapacityStillCoversEveryNumber)
{
    ObjectList* list = make_list(0);
    ASSERT_NE(list, nullptr);
    Record* record = create(list, 7, 1);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(list->capacity, 8);
    EXPECT_EQ(object_get(list, 7), record);
}

TEST_F(ObjectListTest, ReusingANumberDestroysTheOldObjectOnceAndHandsOutTheSameRecord)
{
    ObjectList* list = make_list(16);
    Record* live = create(list, 3, 0x1234);
    Record* again = static_cast<Record*>(object_alloc(list, 3));
    EXPECT_EQ(again, live);
    EXPECT_EQ(released_numbers, std::vector<intptr_t>{3});
    EXPECT_EQ(again->handle, 0) << "the kind's release zero-fills the record";

    released_numbers.clear();
    object_release(list, 3);
    again = static_cast<Record*>(object_alloc(list, 3));
    EXPECT_EQ(again, live) << "a released number keeps its record";
    EXPECT_EQ(released_numbers, std::vector<intptr_t>{3})
        << "the callback runs even when nothing is left to destroy";
}

TEST_F(ObjectListTest, ReleasedNumberedObjectIsAbsentButKeepsItsSlot)
{
    ObjectList* list = make_list(16);
    Record* record = create(list, 5, 9);
    record->payload[2] = 77;
    EXPECT_EQ(object_release(list, 5), 1);
    EXPECT_EQ(object_get(list, 5), nullptr);
    EXPECT_EQ(list->slots[5], record);
    EXPECT_EQ(record->payload[2], 0) << "release zero-fills the whole record";
    EXPECT_EQ(object_release(list, 6), 0) << "never allocated";
}

TEST_F(ObjectListTest, RecordWithZeroFirstFieldIsAbsentUnlessDynamic)
{
    ObjectList* list = make_list(16);
    ASSERT_NE(object_alloc(list, 2), nullptr);
    void* dynamic = object_alloc(list, ANY_NUMBER);
    ASSERT_NE(dynamic, nullptr);
    EXPECT_EQ(object_get(list, 2), nullptr);
    EXPECT_EQ(walk(list), std::vector<intptr_t>{number_of(dynamic)})
        << "the walk skips the unfilled numbered record but hands out the dynamic one";
}

// At 64 bits a handle can have all of its low 32 bits clear.
TEST_F(ObjectListTest, ExistenceReadsTheWholeHandle)
{
    const intptr_t top_bit_only = static_cast<intptr_t>(uintptr_t{1} << (8 * sizeof(intptr_t) - 1));
    for (intptr_t handle : {intptr_t{1}, top_bit_only}) {
        ObjectList* list = make_list(4);
        Record* record = create(list, 2, handle);
        EXPECT_EQ(object_get(list, 2), record) << "handle " << handle;
        EXPECT_EQ(walk(list), std::vector<intptr_t>{2}) << "handle " << handle;
    }
}

TEST_F(ObjectListTest, DynamicObjectsAreNumberedByAddressAndReleasedIndependently)
{
    ObjectList* list = make_list(16);
    Record* first = create(list, ANY_NUMBER, 1);
    Record* second = create(list, ANY_NUMBER, 2);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(object_get(list, number_of(first)), first);
    EXPECT_EQ(object_get(list, number_of(second)), second);
    EXPECT_EQ(object_release(list, number_of(first)), 1);
    EXPECT_EQ(object_get(list, number_of(second)), second);
    EXPECT_EQ(walk(list), std::vector<intptr_t>{number_of(second)});
    EXPECT_EQ(object_release(list, number_of(second)), 1);
    EXPECT_EQ(list->dynamic_head, nullptr);
}

TEST_F(ObjectListTest, ReleasingTheOnlyMiddleOrOldestDynamicObjectKeepsTheChainWhole)
{
    for (int victim = 0; victim < 3; ++victim) {
        ObjectList* list = make_list(4);
        Record* records[3];
        for (int i = 0; i < 3; ++i)
            records[i] = create(list, ANY_NUMBER, i + 1);
        object_release(list, number_of(records[victim]));
        std::vector<intptr_t> expected;
        for (int i = 0; i < 3; ++i)
            if (i != victim)
                expected.push_back(number_of(records[i]));
        EXPECT_EQ(walk(list), expected) << "released record " << victim;
    }
}

TEST_F(ObjectListTest, UnknownNumbersAreNeverReadAsAddresses)
{
    ObjectList* list = make_list(16);
    create(list, ANY_NUMBER, 1);
    // Looks like a live record, but was never handed out by this list.
    Record impostor = {42, {1, 2, 3}};
    const intptr_t numbers[] = {16, 1000, -2, -1, INT32_MIN, INTPTR_MIN, INTPTR_MAX,
                                number_of(&impostor)};
    for (intptr_t number : numbers) {
        EXPECT_EQ(object_get(list, number), nullptr) << "number " << number;
        EXPECT_EQ(object_release(list, number), 0) << "number " << number;
    }
    EXPECT_EQ(impostor.handle, 42);
    EXPECT_EQ(object_alloc(list, -2), nullptr) << "negative numbers other than ANY_NUMBER";
    EXPECT_EQ(walk(list).size(), 1u);
}

TEST_F(ObjectListTest, FreeAllVisitsNumbersInOrderThenDynamicObjectsOldestFirst)
{
    ObjectList* list = make_list(4);
    Record* oldest = create(list, ANY_NUMBER, 1);
    create(list, 9, 1);
    Record* newest = create(list, ANY_NUMBER, 1);
    create(list, 0, 1);
    create(list, 3, 1);
    object_list_free_all(list);
    std::vector<intptr_t> expected = {0, 3, 9, number_of(oldest), number_of(newest)};
    EXPECT_EQ(released_numbers, expected);
    EXPECT_TRUE(walk(list).empty());
    EXPECT_EQ(list->dynamic_head, nullptr);
}

// A destructor that also takes down the object created after it, as a parent
// window takes its children.
int32_t release_with_next_newer(intptr_t number)
{
    released_numbers.push_back(number);
    auto* record = static_cast<Record*>(object_get(released_list, number));
    intptr_t child = record ? record->payload[0] : 0;
    object_release(released_list, number);
    if (child)
        object_release(released_list, child);
    return 1;
}

TEST_F(ObjectListTest, FreeAllSurvivesACallbackThatReleasesTheNextDynamicObject)
{
    ObjectList* list = make_list(4, release_with_next_newer);
    Record* parent = create(list, ANY_NUMBER, 1);
    Record* child = create(list, ANY_NUMBER, 1);
    Record* last = create(list, ANY_NUMBER, 1);
    parent->payload[0] = number_of(child);
    object_list_free_all(list);
    std::vector<intptr_t> expected = {number_of(parent), number_of(last)};
    EXPECT_EQ(released_numbers, expected);
    EXPECT_EQ(list->dynamic_head, nullptr);
}

TEST_F(ObjectListTest, FreeAllWithoutCallbackLeavesEveryObject)
{
    ObjectList* list = make_list(4, nullptr);
    create(list, 1, 1);
    create(list, ANY_NUMBER, 1);
    object_list_free_all(list);
    EXPECT_EQ(walk(list).size(), 2u);
}

TEST_F(ObjectListTest, WalkMayReleaseTheObjectItWasJustGiven)
{
    ObjectList* list = make_list(4);
    create(list, 1, 1);
    create(list, ANY_NUMBER, 1);
    create(list, ANY_NUMBER, 1);
    intptr_t number = 0;
    int visited = 0;
    object_iter_start(list);
    while (object_iter_next(list, &number)) {
        object_release(list, number);
        ++visited;
    }
    EXPECT_EQ(visited, 3);
    EXPECT_EQ(list->dynamic_head, nullptr);
}

TEST_F(ObjectListTest, RefusedMemoryFailsTheCreationAndLeavesTheListAsItWas)
{
    ObjectList* list = make_list(8);
    Record* kept = create(list, 1, 1);
    Record* dynamic = create(list, ANY_NUMBER, 1);

    heap_fail_next(1);
    EXPECT_EQ(object_alloc(list, 2), nullptr) << "record refused";
    EXPECT_EQ(list->slots[2], nullptr);

    heap_fail_next(1);
    EXPECT_EQ(object_alloc(list, 20), nullptr) << "growth needed, record refused";
    EXPECT_EQ(list->capacity, 8);

    for (intptr_t beyond : {intptr_t{INT32_MAX - 1}, INTPTR_MAX}) {
        EXPECT_EQ(object_alloc(list, beyond), nullptr) << "slot array beyond 32 bits: " << beyond;
        EXPECT_EQ(list->capacity, 8);
    }

    heap_fail_next(1);
    EXPECT_EQ(object_alloc(list, ANY_NUMBER), nullptr);
    EXPECT_EQ(list->dynamic_head, node_of_record(dynamic));

    EXPECT_EQ(object_get(list, 1), kept);
    EXPECT_EQ(walk(list).size(), 2u);
}

TEST_F(ObjectListTest, RefusedMemoryFailsListCreation)
{
    heap_fail_next(1);
    EXPECT_EQ(object_list_new(sizeof(Record), 16, nullptr), nullptr);
    EXPECT_EQ(object_list_new(2, 16, nullptr), nullptr) << "no room for the first field";
    EXPECT_EQ(object_list_new(sizeof(Record), -1, nullptr), nullptr);
    EXPECT_EQ(object_list_new(sizeof(Record), 0x40000000, nullptr), nullptr)
        << "a slot array beyond 32 bits must not wrap to a tiny one";
}

TEST_F(ObjectListTest, NumberWhoseSlotArrayWouldNotFitIsRefused)
{
    ObjectList* list = make_list(16);
    // The first number whose number + 16 slots take more than 32 bits of bytes.
    const intptr_t first_too_large = UINT32_MAX / sizeof(void*) - 16 + 1;
    EXPECT_EQ(object_alloc(list, first_too_large), nullptr);
    EXPECT_EQ(list->capacity, 16);
    EXPECT_NE(create(list, 3, 7), nullptr) << "the list stays usable";
}

TEST_F(ObjectListTest, LinkedChainWithItsOwnHeadServesOtherCaches)
{
    DynamicNode* head = nullptr;
    void* a = linked_alloc(&head, sizeof(DynamicNode) + 8);
    void* b = linked_alloc(&head, sizeof(DynamicNode) + 8);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(reinterpret_cast<char*>(head + 1), b) << "the newest node is the head";
    linked_free(&head, b);
    EXPECT_EQ(reinterpret_cast<char*>(head + 1), a);
    EXPECT_EQ(head->prev, nullptr);
    linked_free(&head, a);
    EXPECT_EQ(head, nullptr);
    heap_fail_next(1);
    EXPECT_EQ(linked_alloc(&head, sizeof(DynamicNode) + 8), nullptr);
    EXPECT_EQ(head, nullptr);
}

namespace {
int constructor_calls;
void mark_constructed(void* record)
{
    ++constructor_calls;
    static_cast<int32_t*>(record)[1] = 0x55;
}
}  // namespace

TEST_F(MainHeapTest, ThreadDataIsZeroFilledConstructedAndItsOwnInstance)
{
    constructor_calls = 0;
    auto* plain = static_cast<unsigned char*>(thread_data_new(64, nullptr, nullptr));
    ASSERT_NE(plain, nullptr);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(plain[i], 0) << "byte " << i;
    auto* built = static_cast<int32_t*>(thread_data_new(16, mark_constructed, nullptr));
    ASSERT_NE(built, nullptr);
    EXPECT_EQ(built[0], 0);
    EXPECT_EQ(built[1], 0x55) << "the constructor runs before the record is returned";
    EXPECT_EQ(thread_data_get(built), built);

    heap_fail_next(1);
    EXPECT_EQ(thread_data_new(16, mark_constructed, nullptr), nullptr);
    EXPECT_EQ(constructor_calls, 1) << "no constructor on a refused record";
    EXPECT_EQ(event_thread_safety, 0);
}
