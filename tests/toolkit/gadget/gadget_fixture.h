// Shared by the gadget tests: the program's start-up with window 0 open, the
// gadget events our queue returns, and text read back through the string
// protocol.
#pragma once

#include "tests/toolkit/toolkit_testing.h"

#include <optional>
#include <string>

inline std::string narrow(const std::u16string& text)
{
    std::string out;
    for (char16_t unit : text)
        out += unit < 128 ? static_cast<char>(unit) : '?';
    return out;
}

// Pumps native messages, then takes every queued event and keeps the
// EV_GADGET ones.
inline std::vector<QueuedEvent> take_gadget_events()
{
    pump_messages();
    std::vector<QueuedEvent> events;
    for (const QueuedEvent& e : drain_queue())
        if (e.kind == EV_GADGET)
            events.push_back(e);
    return events;
}

// Only the events of the given types, in queue order.
inline std::vector<QueuedEvent> of_types(const std::vector<QueuedEvent>& events,
                                         std::initializer_list<int32_t> types)
{
    std::vector<QueuedEvent> kept;
    for (const QueuedEvent& e : events)
        for (int32_t type : types)
            if (e.type == type)
                kept.push_back(e);
    return kept;
}

// The gadget's text, read with the caller's side of the offset protocol.
inline std::u16string text_of(intptr_t number)
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

// The program's start-up and shut-down, once for the whole run (once per
// repeat under --gtest_repeat).
class GadgetRuntime : public ::testing::Environment {
public:
    void SetUp() override { runtime.emplace(); }
    void TearDown() override { runtime.reset(); }

private:
    std::optional<ToolkitRuntime> runtime;
};

// Window 0 open, current and in the foreground; every window (and with it
// every gadget) goes again after the test, and the queue is emptied.
class GadgetFixture : public ::testing::Test {
protected:
    HWND window = nullptr;

    void SetUp() override
    {
        window = open_front_window(0, 640, 200, u"Gadgets");
        ASSERT_NE(window, nullptr);
        take_gadget_events();
    }

    void TearDown() override
    {
        window_free(-1);
        take_gadget_events();
    }

    HWND create_text(intptr_t number, uint32_t flags = 0, const unit16* text = u"")
    {
        return gadget_create_text(number, 10, 10, 200, 60, text, flags).handle;
    }
};
