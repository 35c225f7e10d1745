#include "platform/platform.h"

#include <gtest/gtest.h>
#include <cstring>

TEST(Heap, GivesZeroedBlocksAndKeepsContentsAcrossGrowth)
{
    HeapHandle heap = heap_create();
    ASSERT_NE(heap, nullptr);
    auto* block = static_cast<unsigned char*>(heap_alloc(heap, 64, 1));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(block[i], 0) << "byte " << i;
    std::memset(block, 0xAB, 64);
    block = static_cast<unsigned char*>(heap_realloc(heap, block, 100000));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(block[i], 0xAB) << "byte " << i;
    heap_free(heap, block);
    heap_destroy(heap);
}

TEST(Heap, DestroyReleasesEverythingStillAllocated)
{
    HeapHandle heap = heap_create();
    for (int i = 0; i < 100; ++i)
        ASSERT_NE(heap_alloc(heap, 1000, 0), nullptr);
    heap_destroy(heap);  // the leak checkers report anything left behind
}

TEST(Heap, RefusesExactlyTheRequestedNumberOfAllocations)
{
    HeapHandle heap = heap_create();
    heap_fail_next(2);
    EXPECT_EQ(heap_alloc(heap, 16, 0), nullptr);
    void* block = heap_alloc(heap, 16, 0);
    EXPECT_EQ(block, nullptr);
    block = heap_alloc(heap, 16, 0);
    ASSERT_NE(block, nullptr);
    heap_fail_next(1);
    EXPECT_EQ(heap_realloc(heap, block, 32), nullptr) << "a refused growth keeps the block";
    heap_free(heap, block);
    heap_destroy(heap);
}

// At 64 bits these sizes leave room, and the system heap grants them.
TEST(Heap, RefusesSizesWithoutRoomForItsOwnBookkeeping)
{
    if (sizeof(void*) != 4)
        GTEST_SKIP() << "32-bit sizes leave room for bookkeeping at this width";
    HeapHandle heap = heap_create();
    EXPECT_EQ(heap_alloc(heap, UINT32_MAX, 0), nullptr);
    EXPECT_EQ(heap_alloc(heap, UINT32_MAX - 3, 1), nullptr);
    auto* block = static_cast<unsigned char*>(heap_alloc(heap, 8, 0));
    ASSERT_NE(block, nullptr);
    block[7] = 0x5A;
    EXPECT_EQ(heap_realloc(heap, block, UINT32_MAX - 3), nullptr);
    EXPECT_EQ(block[7], 0x5A) << "a refused growth keeps the block";
    heap_free(heap, block);
    heap_destroy(heap);
}

TEST(Heap, HooksNumberAllocationsAndCountWhatIsStillHeld)
{
    const HeapUsage before = heap_usage();
    heap_fail_range(2, 2);
    HeapHandle heap = heap_create();
    ASSERT_NE(heap, nullptr);
    EXPECT_EQ(heap_alloc(heap, 8, 0), nullptr) << "allocation 2 is refused";
    EXPECT_EQ(u16_dup(u"x"), nullptr) << "so is allocation 3";
    void* block = heap_alloc(heap, 8, 0);
    ASSERT_NE(block, nullptr);
    unit16* copy = u16_dup(u"x");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(heap_allocations(), 5u);
    EXPECT_EQ(heap_usage().heaps, before.heaps + 1);
    EXPECT_EQ(heap_usage().blocks, before.blocks + 2);

    heap_fail_range(2, HEAP_FAIL_REST);
    EXPECT_NE(heap_alloc(heap, 8, 0), nullptr);
    EXPECT_EQ(heap_alloc(heap, 8, 0), nullptr);
    EXPECT_EQ(heap_create(), nullptr);
    heap_fail_next(0);
    EXPECT_EQ(heap_alloc(nullptr, 8, 0), nullptr) << "a heap that was never made gives nothing";
    heap_free(nullptr, block);
    heap_destroy(nullptr);

    u16_free(copy);
    heap_destroy(heap);
    EXPECT_EQ(heap_usage().heaps, before.heaps);
    EXPECT_EQ(heap_usage().blocks, before.blocks) << "a heap's blocks go with it";
}

TEST(Lock, CanBeEnteredAgainByItsHolder)
{
    PlatformLock lock;
    lock_init(&lock);
    lock_enter(&lock);
    lock_enter(&lock);
    lock_leave(&lock);
    lock_leave(&lock);
    lock_delete(&lock);
}

TEST(Atomics, ReturnThePreviousValue)
{
    volatile int32_t word = 0;
    EXPECT_EQ(atomic_compare_exchange(&word, 1, 5), 0) << "comparand differs: unchanged";
    EXPECT_EQ(word, 0);
    EXPECT_EQ(atomic_compare_exchange(&word, 1, 0), 0);
    EXPECT_EQ(word, 1);
    EXPECT_EQ(atomic_exchange(&word, 2), 1);
    EXPECT_EQ(word, 2);

    // A once-word is one pointer wide: a value in its top bits survives.
    const auto high = static_cast<OnceWord>(uintptr_t{3} << (8 * sizeof(OnceWord) - 3));
    volatile OnceWord once = 0;
    EXPECT_EQ(once_compare_exchange(&once, high, 1), 0) << "comparand differs: unchanged";
    EXPECT_EQ(once_compare_exchange(&once, high, 0), 0);
    EXPECT_EQ(once, high);
    EXPECT_EQ(once_exchange(&once, 2), high);
    EXPECT_EQ(once, 2);
}

TEST(Utf16, CompareCopyAndDuplicateAsTheCRuntime)
{
    EXPECT_EQ(u16_len(u""), 0u);
    EXPECT_EQ(u16_len(u"абв\U0001F600"), 5u) << "lengths count code units";
    EXPECT_EQ(u16_ncmp(u"abc", u"abd", 2), 0);
    EXPECT_LT(u16_ncmp(u"abc", u"abd", 3), 0);
    EXPECT_GT(u16_ncmp(u"\xFFFF", u"a", 1), 0) << "units compare unsigned";
    EXPECT_LT(u16_ncmp(u"ab", u"ab\u0001", 5), 0) << "the shorter string comes first";
    EXPECT_GT(u16_ncmp(u"ab\u0001", u"ab", 5), 0);
    EXPECT_EQ(u16_nicmp(u"AbC", u"aBc", 3), 0);
    EXPECT_NE(u16_nicmp(u"[", u"{", 1), 0) << "only letters fold";

    unit16 buffer[6];
    u16_ncopy(buffer, u"xy", 6);
    EXPECT_EQ(buffer[0], u'x');
    EXPECT_EQ(buffer[1], u'y');
    for (int i = 2; i < 6; ++i)
        EXPECT_EQ(buffer[i], 0) << "wcsncpy pads with zeros";

    unit16* copy = u16_dup(u"Щ\U0001F600");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(u16_ncmp(copy, u"Щ\U0001F600", 4), 0);
    u16_free(copy);
}
