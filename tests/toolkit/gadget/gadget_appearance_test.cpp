// The brush cache, the text gadget's colour answers, its text limit and its
// natural size.

#include "tests/toolkit/gadget/gadget_fixture.h"

constexpr COLORREF RED = RGB(220, 20, 20);
constexpr COLORREF BLUE = RGB(20, 20, 220);

static bool brush_alive(HBRUSH brush)
{
    return GetObjectType(brush) == OBJ_BRUSH;
}

TEST_F(GadgetFixture, BrushCacheSharesOneBrushPerColourUntilTheLastRelease)
{
    HBRUSH first = brush_acquire(RED);
    HBRUSH second = brush_acquire(RED);
    HBRUSH blue = brush_acquire(BLUE);
    EXPECT_EQ(first, second);
    EXPECT_NE(first, blue);
    brush_release(first);
    EXPECT_TRUE(brush_alive(first)) << "one reference is left";
    brush_release(reinterpret_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    brush_release(second);
    EXPECT_FALSE(brush_alive(first));
    brush_release(blue);
    EXPECT_EQ(brush_cache, nullptr);

    heap_fail_next(1);
    EXPECT_EQ(brush_acquire(RED), nullptr);
    heap_fail_next(0);
    EXPECT_EQ(brush_cache, nullptr);
}

TEST_F(GadgetFixture, GadgetsFollowTheirBackgroundColourThroughTheCache)
{
    create_text(1);
    create_text(2);
    Gadget* one = gadget_find(1);
    Gadget* two = gadget_find(2);
    text_gadget_class.set_color(one, GADGET_COLOR_BACK, RED);
    text_gadget_class.set_color(two, GADGET_COLOR_BACK, RED);
    HBRUSH red = one->back_brush;
    EXPECT_EQ(two->back_brush, red);

    text_gadget_class.set_color(one, GADGET_COLOR_BACK, BLUE);
    EXPECT_NE(one->back_brush, red);
    EXPECT_TRUE(brush_alive(red)) << "gadget 2 still holds red";
    EXPECT_EQ(text_gadget_class.get_color(one, GADGET_COLOR_BACK), static_cast<int32_t>(BLUE));

    text_gadget_class.set_color(two, GADGET_COLOR_BACK, -1);
    EXPECT_EQ(two->back_brush, nullptr);
    EXPECT_EQ(text_gadget_class.get_color(two, GADGET_COLOR_BACK), -1);
    EXPECT_FALSE(brush_alive(red));

    gadget_free(1);
    EXPECT_EQ(brush_cache, nullptr) << "the destroyed gadget released blue";
}

TEST_F(GadgetFixture, ColourSelectorsOutsideFrontAndBackChangeNothing)
{
    create_text(1);
    Gadget* gadget = gadget_find(1);
    text_gadget_class.set_color(gadget, GADGET_COLOR_FRONT, BLUE);
    text_gadget_class.set_color(gadget, 3, RED);
    EXPECT_EQ(text_gadget_class.get_color(gadget, GADGET_COLOR_FRONT), static_cast<int32_t>(BLUE));
    EXPECT_EQ(text_gadget_class.get_color(gadget, GADGET_COLOR_BACK), -1);
    EXPECT_EQ(text_gadget_class.get_color(gadget, 3), -1);
    EXPECT_EQ(gadget->back_brush, nullptr);
}

TEST_F(GadgetFixture, ColourRequestsAnswerWithTheGadgetsColours)
{
    enum class Answer { Default, Window, Face, Back };
    struct Case {
        const char* name;
        int32_t front;
        int32_t back;
        UINT message;
        bool enabled;
        Answer answer;
    };
    const Case cases[] = {
        {"system colours", -1, -1, WM_CTLCOLOREDIT, true, Answer::Default},
        {"text colour, editable", static_cast<int32_t>(BLUE), -1, WM_CTLCOLOREDIT, true, Answer::Window},
        {"text colour, read-only", static_cast<int32_t>(BLUE), -1, WM_CTLCOLORSTATIC, true, Answer::Face},
        {"text colour, disabled", static_cast<int32_t>(BLUE), -1, WM_CTLCOLORSTATIC, false, Answer::Default},
        {"background", -1, static_cast<int32_t>(RED), WM_CTLCOLOREDIT, true, Answer::Back},
        {"both, read-only", static_cast<int32_t>(BLUE), static_cast<int32_t>(RED), WM_CTLCOLORSTATIC, true, Answer::Back},
        {"other request", static_cast<int32_t>(BLUE), static_cast<int32_t>(RED), WM_CTLCOLORBTN, true, Answer::Default},
    };
    HWND control = create_text(1);
    Gadget* gadget = gadget_find(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        text_gadget_class.set_color(gadget, GADGET_COLOR_FRONT, c.front);
        text_gadget_class.set_color(gadget, GADGET_COLOR_BACK, c.back);
        EnableWindow(control, c.enabled);
        HDC device = GetDC(control);
        SetTextColor(device, RGB(1, 2, 3));
        SetBkColor(device, RGB(4, 5, 6));
        LRESULT result = text_gadget_class.on_parent_message(gadget, window, c.message,
                                                             reinterpret_cast<WPARAM>(device),
                                                             reinterpret_cast<LPARAM>(control));
        COLORREF text = GetTextColor(device), back = GetBkColor(device);
        ReleaseDC(control, device);
        switch (c.answer) {
        case Answer::Default:
            EXPECT_EQ(result, RESULT_DEFAULT);
            EXPECT_EQ(back, RGB(4, 5, 6));
            break;
        case Answer::Window:
        case Answer::Face: {
            int index = c.answer == Answer::Window ? COLOR_WINDOW : COLOR_3DFACE;
            EXPECT_EQ(result, reinterpret_cast<LRESULT>(GetSysColorBrush(index)));
            EXPECT_EQ(back, GetSysColor(index));
            EXPECT_EQ(text, BLUE);
            break;
        }
        case Answer::Back:
            EXPECT_EQ(result, reinterpret_cast<LRESULT>(gadget->back_brush));
            EXPECT_EQ(back, RED);
            break;
        }
    }
    EnableWindow(control, TRUE);
    text_gadget_class.set_color(gadget, GADGET_COLOR_BACK, static_cast<int32_t>(RED));
    HDC device = GetDC(control);
    EXPECT_EQ(SendMessageW(window, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(device),
                           reinterpret_cast<LPARAM>(control)),
              reinterpret_cast<LRESULT>(gadget->back_brush))
        << "the window hands its gadget's colour request to the gadget";
    ReleaseDC(control, device);
}

TEST_F(GadgetFixture, TextLimitAttributeIsAtLeastOneCharacter)
{
    struct Case {
        int32_t requested;
        int32_t limit;
    };
    HWND control = create_text(1);
    Gadget* gadget = gadget_find(1);
    for (const Case& c : {Case{0, 1}, Case{-3, 1}, Case{1, 1}, Case{5, 5}}) {
        text_gadget_class.set_attribute(gadget, TEXT_ATTR_MAX_LENGTH, c.requested);
        EXPECT_EQ(text_gadget_class.get_attribute(gadget, TEXT_ATTR_MAX_LENGTH), c.limit)
            << "requested " << c.requested;
    }
    text_gadget_class.set_attribute(gadget, 2, 100);
    EXPECT_EQ(text_gadget_class.get_attribute(gadget, TEXT_ATTR_MAX_LENGTH), 5);
    EXPECT_EQ(text_gadget_class.get_attribute(gadget, 2), 0);

    gadget_focus(1);
    type_chars(control, u"abcdefg");
    pump_messages();
    EXPECT_EQ(narrow(text_of(1)), "abcde");
}

TEST_F(GadgetFixture, RequiredSizeIsOneLineOfTheFontAtLeastTwentyHigh)
{
    ASSERT_EQ(GetSystemMetrics(SM_CXEDGE), 2);
    ASSERT_EQ(GetSystemMetrics(SM_CYEDGE), 2);
    struct Case {
        int font_height;
        int32_t height;
    };
    HWND control = create_text(1);
    for (const Case& c : {Case{13, 20}, Case{20, 24}}) {
        HFONT font = CreateFontW(c.font_height, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0,
                                 0, L"Tahoma");
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        int32_t width = -1, height = -1;
        text_gadget_class.required_size(gadget_find(1), &width, &height);
        EXPECT_EQ(width, 4);
        EXPECT_EQ(height, c.height) << "font height " << c.font_height;
        SendMessageW(control, WM_SETFONT, 0, FALSE);
        DeleteObject(font);
    }
}
