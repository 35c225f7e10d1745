// Shared by the window tests: the events our queue returns, and the records
// and classes behind a window.
#pragma once

#include "tests/toolkit/toolkit_testing.h"

#include <string>

// The window's own accelerator table; null for a window that is not ours.
inline HACCEL accelerators_of(HWND window) {
    intptr_t tag = reinterpret_cast<intptr_t>(GetPropW(window, L"Zeph_WindowID"));
    auto* record = static_cast<WindowRecord*>(object_get(window_list, tag - 1));
    return tag && record ? record->accelerator_table : nullptr;
}

// Pumps native messages, then takes every queued event. With a window given,
// its own accelerator table translates first, as the pump does.
inline std::vector<QueuedEvent> take_events(HWND accelerator_window = nullptr) {
    pump_messages(accelerator_window,
                  accelerator_window ? accelerators_of(accelerator_window) : nullptr);
    return drain_queue();
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

inline WindowRecord* window_record(intptr_t number) {
    return static_cast<WindowRecord*>(object_get(window_list, number));
}

inline std::wstring class_name_of(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}
