// Shared by the toolkit tests: the libraries started and ended in the
// program's order, a bounded native message pump, and the events our queue
// returns. The event part is portable; the rest is Win32 only.
#pragma once

#include "platform/platform.h"
#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"
#include "toolkit/event/event.h"

#ifdef _WIN32
#include <windows.h>

#include "runtime/strings/strings.h"
#include "toolkit/gadget/gadget.h"
#include "toolkit/window/window.h"
#endif

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

// One queued event as the tests compare them.
struct QueuedEvent {
    int32_t kind;
    intptr_t gadget;
    intptr_t window;
    int32_t type;
    bool operator==(const QueuedEvent& o) const
    {
        return kind == o.kind && gadget == o.gadget && window == o.window && type == o.type;
    }
};

inline std::ostream& operator<<(std::ostream& out, const QueuedEvent& e)
{
    return out << "{kind " << e.kind << ", gadget " << e.gadget << ", window " << e.window
               << ", type " << e.type << "}";
}

// Takes every queued event with event_next.
inline std::vector<QueuedEvent> drain_queue()
{
    std::vector<QueuedEvent> taken;
    while (int32_t kind = event_next())
        taken.push_back({kind, event_gadget(), event_state->current_window, event_type()});
    return taken;
}

// The program lets the main heap take the bindings map and the event pool; a
// test frees them, because the shared pool registry outlives the heap and a
// new start must find neither.
inline void free_event_state()
{
    map_free(bindings);
    pool_destroy(event_state->pool);
    event_state = nullptr;
}

// The program's first step: the module handle and the heap every library
// allocates from.
inline void start_main_heap()
{
#ifdef _WIN32
    instance_handle = GetModuleHandleW(nullptr);
#endif
    main_heap = heap_create();
}

inline void end_main_heap()
{
    heap_destroy(main_heap);
    main_heap = nullptr;
}

// The main heap and the event library alone, ended whole on destruction.
class EventRuntime {
public:
    EventRuntime()
    {
        start_main_heap();
        events_init();
    }

    // A refusal a failed test left armed must not fail the shut-down; a test
    // may have ended the event library itself.
    ~EventRuntime()
    {
        heap_fail_next(0);
        if (event_state) {
            events_end();
            free_event_state();
        }
        end_main_heap();
    }

    EventRuntime(const EventRuntime&) = delete;
    EventRuntime& operator=(const EventRuntime&) = delete;
};

// A fresh main heap and event library for every test, so that no test sees
// another's queue, bindings or pool chunks.
class EventFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(main_heap, nullptr);
        ASSERT_NE(event_state, nullptr);
        ASSERT_NE(bindings, nullptr);
    }

private:
    EventRuntime runtime;
};

#ifdef _WIN32

// Dispatches native messages until none is left; bounded, since a fault could
// repost forever. With an accelerator table, it translates for `window`
// first, as the program's pump does.
inline void pump_messages(HWND window = nullptr, HACCEL accelerators = nullptr)
{
    MSG message;
    for (int guard = 0; guard < 100000 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);
         ++guard) {
        if (accelerators && TranslateAcceleratorW(window, accelerators, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Ends every library the toolkit tests use, in the program's order, and
// frees what a new start needs freed. Disarms a refusal a failed test left,
// and dispatches the windows' last messages while the event library still
// stands.
inline void end_toolkit_runtime()
{
    heap_fail_next(0);
    gadgets_end();
    windows_end();
    pump_messages();
    events_end();
    free_event_state();
    string_area_end();
    end_main_heap();
}

// Every library the toolkit tests use, started and ended in the program's
// order.
class ToolkitRuntime {
public:
    ToolkitRuntime()
    {
        start_main_heap();
        string_area_init();
        container_ops_register_map();
        events_init();
        windows_init();
        gadgets_init();
    }

    ~ToolkitRuntime() { end_toolkit_runtime(); }

    ToolkitRuntime(const ToolkitRuntime&) = delete;
    ToolkitRuntime& operator=(const ToolkitRuntime&) = delete;
};

// The program's start-up and shut-down around every test.
class ToolkitFixture : public ::testing::Test {
private:
    ToolkitRuntime runtime;
};

constexpr uint32_t CAPTIONED_CENTERED = 0xCA0001;

// Opens the window captioned and centred and brings it to the front; null
// when it did not open.
inline HWND open_front_window(intptr_t number, int32_t width, int32_t height, const unit16* title)
{
    HWND window = window_open(number, 0, 0, width, height, title, CAPTIONED_CENTERED).handle;
    SetForegroundWindow(window);
    return window;
}

// Presses and releases a key (with a modifier held around it) in the
// foreground window, as real keyboard input.
inline void press_key(WORD key, WORD modifier = 0)
{
    std::vector<INPUT> inputs;
    const auto add = [&](WORD vk, DWORD flags) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.dwFlags = flags;
        inputs.push_back(input);
    };
    if (modifier)
        add(modifier, 0);
    add(key, 0);
    add(key, KEYEVENTF_KEYUP);
    if (modifier)
        add(modifier, KEYEVENTF_KEYUP);
    ASSERT_EQ(SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)),
              inputs.size());
}

#endif
