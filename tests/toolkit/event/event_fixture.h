// A fresh main heap and event library for every test, torn down whole, so
// that no test sees another's queue, bindings or pool chunks.
#pragma once

#include "toolkit/event/event.h"

#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

class EventLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
#ifdef _WIN32
        instance_handle = GetModuleHandleW(nullptr);
#endif
        main_heap = heap_create();
        ASSERT_NE(main_heap, nullptr);
        events_init();
        ASSERT_NE(event_state, nullptr);
        ASSERT_NE(bindings, nullptr);
    }

    void TearDown() override
    {
        heap_fail_next(0);
        if (event_state)
            end_library();
        heap_destroy(main_heap);
        main_heap = nullptr;
    }

    void end_library()
    {
        events_end();
        free_library_state();
    }

    // The library never frees its state or map (the heap goes whole); a test
    // must, because the shared pool registry outlives the heap.
    static void free_library_state()
    {
        map_free(bindings);
        pool_destroy(event_state->pool);
        event_state = nullptr;
    }
};

// One queued or dispatched event as the tests compare them.
struct SeenEvent {
    int32_t kind;
    int32_t gadget;
    int32_t window;
    int32_t type;
    bool operator==(const SeenEvent& o) const
    {
        return kind == o.kind && gadget == o.gadget && window == o.window && type == o.type;
    }
};

inline std::ostream& operator<<(std::ostream& out, const SeenEvent& e)
{
    return out << "{" << e.kind << ", gadget " << e.gadget << ", window " << e.window << ", type "
               << e.type << "}";
}

// Takes every queued event with event_next.
inline std::vector<SeenEvent> drain_queue()
{
    std::vector<SeenEvent> taken;
    while (int32_t kind = event_next())
        taken.push_back({kind, event_gadget(), event_state->current_window, event_type()});
    return taken;
}
