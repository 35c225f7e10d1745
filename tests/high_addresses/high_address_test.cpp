// The reservation that every test program of the 64-bit Windows build makes
// must really push the runtime's memory above 4 GiB, or the suite would pass
// while code that cuts addresses to 32 bits went unseen.
#include "runtime/objects/objects.h"
#include "tests/e2e/driver.h"
#include "tests/high_addresses/low_space_reservation.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr uintptr_t FOUR_GIB = uintptr_t{1} << 32;
constexpr uint32_t START_TIMEOUT_MS = 20000;

uintptr_t address_of(const void* p) { return reinterpret_cast<uintptr_t>(p); }

}  // namespace

TEST(HighAddresses, AHeapBlockAndADynamicRecordLieAbove4GiB)
{
    EXPECT_EQ(reservable_low_space(GetCurrentProcess()), 0u);
    main_heap = heap_create();
    ASSERT_NE(main_heap, nullptr);
    void* block = heap_alloc(main_heap, 16, 0);
    ObjectList* list = object_list_new(sizeof(void*), 4, nullptr);
    ASSERT_NE(list, nullptr);
    void* record = object_alloc(list, ANY_NUMBER);
    EXPECT_GE(address_of(block), FOUR_GIB) << block;
    EXPECT_GE(address_of(record), FOUR_GIB) << record;
    heap_destroy(main_heap);
    main_heap = nullptr;
}

// The end-to-end tests start the program built for them, which links the
// same reservation; the shipped program, which does not, still has room
// below 4 GiB, so the measure tells the two apart.
TEST(HighAddresses, TheProgramTheEndToEndTestsStartHasNoRoomBelow4GiB)
{
    ProgramUnderTest tested;
    ASSERT_TRUE(clipboard_clear());
    ASSERT_TRUE(tested.start(glyphmend_path(), START_TIMEOUT_MS));
    EXPECT_EQ(reservable_low_space(tested.process()), 0u);

    ProgramUnderTest shipped;
    ASSERT_TRUE(shipped.start(L"Z:" SHIPPED_GLYPHMEND_EXE, START_TIMEOUT_MS));
    EXPECT_GT(reservable_low_space(shipped.process()), 0u);
}
