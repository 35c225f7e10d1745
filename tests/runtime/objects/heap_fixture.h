// A main heap for the duration of one test; destroying it returns whatever
// the code under test still holds, and any refusal left over is cancelled.
#pragma once

#include "runtime/objects/objects.h"

#include <gtest/gtest.h>

class MainHeapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        main_heap = heap_create();
        ASSERT_NE(main_heap, nullptr);
    }
    void TearDown() override
    {
        heap_fail_next(0);
        heap_destroy(main_heap);
        main_heap = nullptr;
    }
};
