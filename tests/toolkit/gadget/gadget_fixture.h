// Shared by the gadget tests: the program's start-up with window 0 open, a
// bounded native drain, the events our queue returns, and text read back
// through the string protocol.
#pragma once

#include <gtest/gtest.h>

#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"
#include "runtime/strings/strings.h"
#include "toolkit/event/event.h"
#include "toolkit/gadget/gadget.h"
#include "toolkit/window/window.h"

#include <ostream>
#include <string>
#include <vector>

struct GadgetEvent {
    int32_t kind;
    int32_t gadget;
    int32_t window;
    int32_t type;
    bool operator==(const GadgetEvent& o) const
    {
        return kind == o.kind && gadget == o.gadget && window == o.window && type == o.type;
    }
};

inline std::ostream& operator<<(std::ostream& out, const GadgetEvent& e)
{
    return out << "{kind " << e.kind << ", gadget " << e.gadget << ", window " << e.window
               << ", type " << e.type << "}";
}

inline std::string narrow(const std::u16string& text)
{
    std::string out;
    for (char16_t unit : text)
        out += unit < 128 ? static_cast<char>(unit) : '?';
    return out;
}

// Dispatches native messages until none is left; bounded.
inline void drain_messages()
{
    MSG msg;
    for (int guard = 0; guard < 100000 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++guard) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Drains native messages, then takes every queued EV_GADGET event.
inline std::vector<GadgetEvent> take_gadget_events()
{
    drain_messages();
    std::vector<GadgetEvent> events;
    while (int32_t kind = event_next())
        if (kind == EV_GADGET)
            events.push_back({kind, event_gadget(), event_state->current_window, event_type()});
    return events;
}

// Only the events of the given types, in queue order.
inline std::vector<GadgetEvent> of_types(const std::vector<GadgetEvent>& events,
                                         std::initializer_list<int32_t> types)
{
    std::vector<GadgetEvent> kept;
    for (const GadgetEvent& e : events)
        for (int32_t type : types)
            if (e.type == type)
                kept.push_back(e);
    return kept;
}

// The gadget's text, read with the caller's side of the offset protocol.
inline std::u16string text_of(int32_t number)
{
    uint32_t saved = string_offset();
    gadget_get_text(number, saved);
    unit16* variable = nullptr;
    string_assign(&variable, saved);
    std::u16string text(variable ? variable : u"");
    string_free(variable);
    return text;
}

// Posts characters to the control as the keyboard would deliver them.
inline void type_chars(HWND control, const std::u16string& text)
{
    for (char16_t unit : text)
        PostMessageW(control, WM_CHAR, unit, 1);
}

// The program's start-up and shut-down, once for the whole run, as the
// program does them.
class GadgetRuntime : public ::testing::Environment {
public:
    void SetUp() override
    {
        instance_handle = GetModuleHandleW(nullptr);
        main_heap = heap_create();
        string_area_init();
        container_ops_register_map();
        events_init();
        windows_init();
        gadgets_init();
    }

    void TearDown() override
    {
        gadgets_end();
        windows_end();
        drain_messages();
        events_end();
        string_area_end();
        heap_destroy(main_heap);
    }
};

// Window 0 open, current and in the foreground; every window (and with it
// every gadget) goes again after the test, and the queue is emptied.
class GadgetFixture : public ::testing::Test {
protected:
    HWND window = nullptr;

    void SetUp() override
    {
        window = reinterpret_cast<HWND>(window_open(0, 0, 0, 640, 200, u"Gadgets", 0xCA0001));
        ASSERT_NE(window, nullptr);
        SetForegroundWindow(window);
        take_gadget_events();
    }

    void TearDown() override
    {
        window_free(-1);
        take_gadget_events();
    }

    HWND create_text(int32_t number, uint32_t flags = 0, const unit16* text = u"")
    {
        return reinterpret_cast<HWND>(gadget_create_text(number, 10, 10, 200, 60, text, flags));
    }
};
