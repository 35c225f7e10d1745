// Text gadgets in a real window: creation, reuse, teardown, the current
// gadget list, and the events that typing and focus changes queue.

#include "tests/toolkit/gadget/gadget_fixture.h"

static ::testing::Environment* const runtime =
    ::testing::AddGlobalTestEnvironment(new GadgetRuntime);

using Events = std::vector<QueuedEvent>;

// An Edit control also reports its focus with EN_SETFOCUS and EN_KILLFOCUS,
// which the window turns into gadget events of those types.
static Events focus_events()
{
    return of_types(take_gadget_events(), {GADGET_EVENT_FOCUS, GADGET_EVENT_LOST_FOCUS});
}

constexpr uint32_t MULTI_LINE = ES_MULTILINE | ES_AUTOVSCROLL;

TEST_F(GadgetFixture, CreatedGadgetCarriesItsNumberFontAndEdge)
{
    struct Case {
        uint32_t flags;
        bool client_edge;
    };
    const Case cases[] = {{0, true}, {GADGET_BORDERLESS, false}, {0x320047, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.flags);
        HWND control = create_text(3, c.flags);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(gadget_handle(3), control);
        EXPECT_EQ(GetParent(control), window);
        EXPECT_EQ(GetDlgCtrlID(control), 3);
        EXPECT_EQ(reinterpret_cast<intptr_t>(GetPropW(control, L"Zeph_ID")), 3);
        EXPECT_EQ(reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)),
                  GetStockObject(DEFAULT_GUI_FONT));
        EXPECT_EQ((GetWindowLongW(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0, c.client_edge);
        auto style = static_cast<uint32_t>(GetWindowLongW(control, GWL_STYLE));
        EXPECT_EQ(style & (c.flags | 0x50030080), c.flags | 0x50030080);
        Gadget* gadget = gadget_find(3);
        EXPECT_EQ(gadget->gadget_class, &text_gadget_class);
        EXPECT_EQ(gadget->back_color, -1);
        EXPECT_EQ(gadget->front_color, -1);
    }
}

TEST_F(GadgetFixture, ReusedNumberTearsTheOldGadgetDownWithItsEventsAndBrush)
{
    HWND old_control = create_text(1);
    create_text(2);
    gadget_focus(1);
    text_gadget_class.set_color(gadget_find(1), GADGET_COLOR_BACK, RGB(200, 10, 10));
    HBRUSH old_brush = gadget_find(1)->back_brush;
    gadget_focus(2);
    gadget_focus(1);

    HWND control = create_text(1);

    EXPECT_NE(control, old_control);
    EXPECT_FALSE(IsWindow(old_control));
    EXPECT_EQ(gadget_handle(1), control);
    EXPECT_EQ(GetDlgCtrlID(control), 1);
    EXPECT_EQ(GetObjectType(old_brush), 0u) << "the old gadget's brush is released";
    EXPECT_EQ(gadget_find(1)->back_brush, nullptr);
    Events left = take_gadget_events();
    EXPECT_EQ(of_types(left, {GADGET_EVENT_FOCUS, GADGET_EVENT_LOST_FOCUS}),
              (Events{{EV_GADGET, 2, 0, GADGET_EVENT_FOCUS}, {EV_GADGET, 2, 0, GADGET_EVENT_LOST_FOCUS}}));
    for (const QueuedEvent& e : left)
        EXPECT_EQ(e.gadget, 2) << "an event of the old gadget 1 is left: " << e;
}

// The number is the whole address, in the record, the control's identifier,
// "Zeph_ID" and every event, and it is told apart from the control's handle.
TEST_F(GadgetFixture, AnyNumberGadgetIsNamedByItsRecordAddress)
{
    const CreatedWindow first = gadget_create_text(ANY_NUMBER, 0, 0, 100, 30, u"one", 0);
    const CreatedWindow second = gadget_create_text(ANY_NUMBER, 0, 40, 100, 30, nullptr, 0);
    ASSERT_NE(first.handle, nullptr);
    ASSERT_NE(second.handle, nullptr);
    EXPECT_NE(first.number, second.number);
    EXPECT_EQ(reinterpret_cast<intptr_t>(gadget_find(first.number)), first.number);
    EXPECT_EQ(gadget_handle(first.number), first.handle);
    EXPECT_EQ(GetWindowLongPtrW(first.handle, GWLP_ID), first.number);
    EXPECT_EQ(reinterpret_cast<intptr_t>(GetPropW(first.handle, L"Zeph_ID")), first.number);
    EXPECT_EQ(narrow(text_of(first.number)), "one");
    gadget_set_text(second.number, u"two");
    EXPECT_EQ(narrow(text_of(second.number)), "two");
    gadget_focus(first.number);
    EXPECT_EQ(focus_events(), (Events{{EV_GADGET, first.number, 0, GADGET_EVENT_FOCUS}}));
    type_chars(first.handle, u"!");
    EXPECT_EQ(of_types(take_gadget_events(), {GADGET_EVENT_CHANGE}),
              (Events{{EV_GADGET, first.number, 0, GADGET_EVENT_CHANGE}}));

    EXPECT_EQ(gadget_free(first.number), 1);
    EXPECT_FALSE(IsWindow(first.handle));
    EXPECT_EQ(gadget_handle(first.number), nullptr);
    EXPECT_EQ(narrow(text_of(second.number)), "two");
}

TEST_F(GadgetFixture, UnknownNumbersChangeNothing)
{
    HWND control = create_text(1, 0, u"kept");
    gadget_focus(1);
    take_gadget_events();
    for (intptr_t number : {intptr_t{7}, intptr_t{49}, intptr_t{50}, intptr_t{1000}, intptr_t{-5},
                            intptr_t{0x7FFFFFFF}, INTPTR_MAX}) {
        SCOPED_TRACE(number);
        EXPECT_EQ(gadget_handle(number), nullptr);
        EXPECT_EQ(gadget_focus(number), 0);
        EXPECT_EQ(GetFocus(), control);
        uint32_t before = string_offset();
        gadget_get_text(number, before);
        EXPECT_EQ(string_offset(), before);
        EXPECT_EQ(narrow(text_of(number)), "");
        gadget_set_text(number, u"lost");
        EXPECT_EQ(gadget_free(number), 0);
    }
    EXPECT_EQ(narrow(text_of(1)), "kept");
    EXPECT_TRUE(IsWindow(control));
    EXPECT_EQ(take_gadget_events(), Events{});
}

TEST_F(GadgetFixture, DestroyedWindowLeavesNoGadgetRecordsOrEvents)
{
    create_text(1);
    create_text(2);
    gadget_focus(1);
    gadget_focus(2);
    pump_messages();
    // Straight through the platform, so only the gadgets' own teardown can
    // purge their events (window_free would purge the window's).
    DestroyWindow(window);
    EXPECT_EQ(gadget_find(1), nullptr);
    EXPECT_EQ(gadget_find(2), nullptr);
    EXPECT_EQ(take_gadget_events(), Events{});
    EXPECT_EQ(gadget_list_use(nullptr), nullptr);
    EXPECT_EQ(gadget_create_text(3, 0, 0, 10, 10, u"", 0).handle, nullptr)
        << "no current gadget list";
}

TEST_F(GadgetFixture, NewWindowBecomesTheCurrentListUntilItGoes)
{
    create_text(1, 0, u"first");
    EXPECT_EQ(gadget_list_use(nullptr), window);
    HWND second = window_open(1, 0, 0, 300, 100, u"second", 0).handle;
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(gadget_list_use(nullptr), second);
    EXPECT_EQ(GetParent(create_text(2)), second);
    // Named after the whole instance handle, which lies above 4 GiB at 64 bits.
    const std::wstring property =
        L"Zeph_GadgetStack_" + std::to_wstring(reinterpret_cast<intptr_t>(instance_handle));
    EXPECT_NE(GetPropW(window, property.c_str()), nullptr);
    EXPECT_NE(GetPropW(second, property.c_str()), nullptr);

    EXPECT_EQ(gadget_list_use(window), second);
    EXPECT_EQ(GetParent(create_text(3)), window);
    EXPECT_EQ(gadget_list_use(second), window);

    window_free(1);
    EXPECT_EQ(gadget_find(2), nullptr);
    EXPECT_EQ(gadget_list_use(nullptr), nullptr);
    EXPECT_EQ(gadget_create_text(1, 0, 0, 10, 10, u"", 0).handle, nullptr);
    EXPECT_EQ(narrow(text_of(1)), "first") << "a failed creation leaves the old gadget";
}

// Each typed character makes the control send EN_UPDATE (1024) and then
// EN_CHANGE, so typed changes alternate with updates and never merge.
TEST_F(GadgetFixture, TypingQueuesAnUpdateAndAChangePerCharacter)
{
    constexpr int32_t EN_UPDATE_TYPE = EN_UPDATE;
    for (uint32_t flags : {0u, MULTI_LINE}) {
        SCOPED_TRACE(testing::Message() << "flags " << flags);
        HWND control = create_text(1, flags);
        gadget_focus(1);
        take_gadget_events();
        type_chars(control, u"abc");
        Events expected;
        for (int typed = 0; typed < 3; ++typed) {
            expected.push_back({EV_GADGET, 1, 0, EN_UPDATE_TYPE});
            expected.push_back({EV_GADGET, 1, 0, GADGET_EVENT_CHANGE});
        }
        EXPECT_EQ(take_gadget_events(), expected);
        EXPECT_EQ(narrow(text_of(1)), "abc");
    }
}

TEST_F(GadgetFixture, RepeatedChangeNotificationsReachTheQueueOnce)
{
    HWND control = create_text(1, MULTI_LINE);
    take_gadget_events();
    for (int repeat = 0; repeat < 3; ++repeat)
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(1, EN_CHANGE), reinterpret_cast<LPARAM>(control));
    EXPECT_EQ(take_gadget_events(), (Events{{EV_GADGET, 1, 0, GADGET_EVENT_CHANGE}}));
}

TEST_F(GadgetFixture, KeyboardInputReachesTheFocusedGadgetAsAChange)
{
    create_text(1, MULTI_LINE);
    create_text(2, MULTI_LINE);
    gadget_focus(2);
    take_gadget_events();
    INPUT keys[2] = {};
    for (INPUT& key : keys) {
        key.type = INPUT_KEYBOARD;
        key.ki.wScan = u'q';
        key.ki.dwFlags = KEYEVENTF_UNICODE;
    }
    keys[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    ASSERT_EQ(SendInput(2, keys, sizeof(INPUT)), 2u);
    bool changed = false;
    for (const QueuedEvent& e : take_gadget_events())
        changed |= e == QueuedEvent{EV_GADGET, 2, 0, GADGET_EVENT_CHANGE};
    EXPECT_TRUE(changed);
    EXPECT_EQ(narrow(text_of(2)), "q");
    EXPECT_EQ(narrow(text_of(1)), "");
}

TEST_F(GadgetFixture, SetTextQueuesNoChangeButTypingStillDoes)
{
    for (uint32_t flags : {0u, MULTI_LINE}) {
        SCOPED_TRACE(flags);
        HWND control = create_text(1, flags);
        gadget_focus(1);
        take_gadget_events();
        gadget_set_text(1, u"repaired");
        EXPECT_EQ(take_gadget_events(), Events{});
        EXPECT_EQ(narrow(text_of(1)), "repaired");
        type_chars(control, u"!");
        bool changed = false;
        for (const QueuedEvent& e : take_gadget_events())
            changed |= e.type == GADGET_EVENT_CHANGE;
        EXPECT_TRUE(changed) << "suppression ends with the change";
    }
}

// The design rests on this: a multi-line Edit control notifies its parent of
// a replaced selection but not of WM_SETTEXT; a single-line one of both, which
// is why setting a text suppresses events.
static int change_notifications;

static LRESULT CALLBACK counting_parent_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_COMMAND && HIWORD(wparam) == EN_CHANGE)
        change_notifications++;
    return DefWindowProcW(window, message, wparam, lparam);
}

TEST_F(GadgetFixture, EditNotifiesChangesAsThePlatformDoes)
{
    WNDCLASSW parent_class = {};
    parent_class.lpfnWndProc = counting_parent_proc;
    parent_class.hInstance = static_cast<HINSTANCE>(instance_handle);
    parent_class.lpszClassName = L"GadgetTestParent";
    RegisterClassW(&parent_class);
    HWND parent = CreateWindowExW(0, L"GadgetTestParent", L"", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                  nullptr, nullptr, parent_class.hInstance, nullptr);
    struct Case {
        const char* name;
        DWORD style;
        UINT message;
        int notifications;
    };
    const Case cases[] = {
        {"multi-line WM_SETTEXT", ES_MULTILINE, WM_SETTEXT, 0},
        {"multi-line EM_REPLACESEL", ES_MULTILINE, EM_REPLACESEL, 1},
        {"single-line WM_SETTEXT", 0, WM_SETTEXT, 1},
    };
    for (const Case& c : cases) {
        HWND edit = CreateWindowExW(0, L"Edit", L"", WS_CHILD | c.style, 0, 0, 100, 50, parent,
                                    reinterpret_cast<HMENU>(5), parent_class.hInstance, nullptr);
        ASSERT_NE(edit, nullptr);
        change_notifications = 0;
        SendMessageW(edit, c.message, 0, reinterpret_cast<LPARAM>(L"text"));
        pump_messages();
        EXPECT_EQ(change_notifications, c.notifications) << c.name;
        DestroyWindow(edit);
    }
    DestroyWindow(parent);
    UnregisterClassW(L"GadgetTestParent", parent_class.hInstance);
}

TEST_F(GadgetFixture, FocusChangesQueueFocusAndLostFocusEvents)
{
    HWND first = create_text(1);
    create_text(2);
    take_gadget_events();

    gadget_focus(1);
    EXPECT_EQ(focus_events(), (Events{{EV_GADGET, 1, 0, GADGET_EVENT_FOCUS}}));
    EXPECT_EQ(reinterpret_cast<HWND>(gadget_focus(2)), first);
    EXPECT_EQ(focus_events(), (Events{{EV_GADGET, 1, 0, GADGET_EVENT_LOST_FOCUS},
                                      {EV_GADGET, 2, 0, GADGET_EVENT_FOCUS}}));
    gadget_focus(-1);
    EXPECT_EQ(GetFocus(), nullptr);
    EXPECT_EQ(focus_events(), (Events{{EV_GADGET, 2, 0, GADGET_EVENT_LOST_FOCUS}}));
}
