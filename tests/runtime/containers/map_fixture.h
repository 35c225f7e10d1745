// The runtime state the map and descriptor tests stand on: the main heap,
// the string area and the registered map operations, set up per test and
// torn down in reverse. Maps made in a test are freed before the heap goes,
// so the shared pool registry never names a destroyed heap's pool.
#pragma once

#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"
#include "runtime/strings/strings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

class MapFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        main_heap = heap_create();
        ASSERT_NE(main_heap, nullptr);
        string_area_init();
        saved_ops_ = container_ops;
        container_ops_register_map();
    }

    void TearDown() override
    {
        heap_fail_next(0);
        map_free(map);
        map_free(other);
        container_ops = saved_ops_;
        string_area_end();
        heap_destroy(main_heap);
        main_heap = nullptr;
    }

    StringMap* map = nullptr;    // owner variables of the maps a test makes
    StringMap* other = nullptr;

private:
    ContainerOps saved_ops_{};
};

// A value's leading int32, the tests' stand-in for a payload.
inline int32_t& value_id(void* value) { return *static_cast<int32_t*>(value); }

inline std::u16string text_of(const unit16* s) { return s ? std::u16string(s) : std::u16string(); }
