// Shared by the window tests: the program's start-up and shut-down around each
// test, a bounded message drain, and the events our queue returns.
#pragma once

#include <gtest/gtest.h>

#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"
#include "runtime/strings/strings.h"
#include "toolkit/event/event.h"
#include "toolkit/gadget/gadget.h"
#include "toolkit/window/window.h"

#include <ostream>
#include <vector>

struct QueuedEvent {
    int32_t kind;
    int32_t gadget;
    int32_t window;
    int32_t type;
    bool operator==(const QueuedEvent& o) const {
        return kind == o.kind && gadget == o.gadget && window == o.window && type == o.type;
    }
};

inline std::ostream& operator<<(std::ostream& out, const QueuedEvent& e) {
    return out << "{kind " << e.kind << ", gadget " << e.gadget << ", window " << e.window
               << ", type " << e.type << "}";
}

inline HACCEL accelerators_of(HWND window) {
    intptr_t tag = reinterpret_cast<intptr_t>(GetPropW(window, L"Zeph_WindowID"));
    auto* record = static_cast<WindowRecord*>(object_get(window_list, static_cast<int32_t>(tag - 1)));
    return tag && record ? record->accelerator_table : nullptr;
}

// Dispatches native messages until none is left (bounded). With a window
// given, an accelerator table (by default the window's own) translates
// first, as the pump does.
inline void drain_messages(HWND accelerator_window = nullptr, HACCEL table = nullptr) {
    MSG msg;
    for (int guard = 0; guard < 100000 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++guard) {
        if (accelerator_window) {
            HACCEL translating = table ? table : accelerators_of(accelerator_window);
            if (translating && TranslateAcceleratorW(accelerator_window, translating, &msg)) continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Drains native messages, then takes every queued event.
inline std::vector<QueuedEvent> take_events(HWND accelerator_window = nullptr) {
    drain_messages(accelerator_window);
    std::vector<QueuedEvent> events;
    while (int32_t kind = event_next())
        events.push_back({kind, event_gadget(), event_state->current_window, event_type()});
    return events;
}

// Only the events of the given kinds, in queue order.
inline std::vector<QueuedEvent> events_of_kinds(const std::vector<QueuedEvent>& events,
                                                std::initializer_list<int32_t> kinds) {
    std::vector<QueuedEvent> kept;
    for (const QueuedEvent& e : events)
        for (int32_t kind : kinds)
            if (e.kind == kind) kept.push_back(e);
    return kept;
}

inline WindowRecord* window_record(int32_t number) {
    return static_cast<WindowRecord*>(object_get(window_list, number));
}

inline std::wstring class_name_of(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// Start-up and shut-down in the program's order around every test.
class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        instance_handle = GetModuleHandleW(nullptr);
        main_heap = heap_create();
        string_area_init();
        container_ops_register_map();
        events_init();
        windows_init();
        gadgets_init();
    }
    void TearDown() override {
        gadgets_end();
        windows_end();
        drain_messages();
        events_end();
        // The program lets the heap take these; a test must free them, because
        // the shared pool registry outlives the heap.
        map_free(bindings);
        pool_destroy(event_state->pool);
        event_state = nullptr;
        string_area_end();
        heap_destroy(main_heap);
    }
};

// Puts real keyboard input into the foreground window.
inline void press_key(WORD key, WORD modifier = 0) {
    std::vector<INPUT> inputs;
    auto add = [&](WORD vk, DWORD flags) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = vk;
        in.ki.dwFlags = flags;
        inputs.push_back(in);
    };
    if (modifier) add(modifier, 0);
    add(key, 0);
    add(key, KEYEVENTF_KEYUP);
    if (modifier) add(modifier, KEYEVENTF_KEYUP);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}
