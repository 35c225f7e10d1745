// The text gadget: an Edit control with its focus reports, colours, text
// limit and natural size.

#include "toolkit/gadget/gadget.h"

#include "toolkit/event/event.h"
#include "toolkit/window/window.h"

#include <algorithm>

WNDPROC edit_class_proc;

// WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP | ES_AUTOHSCROLL: a multi-line
// text gadget therefore scrolls sideways instead of wrapping.
constexpr DWORD TEXT_GADGET_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP | ES_AUTOHSCROLL;
static_assert(TEXT_GADGET_STYLE == 0x50030080, "the text gadget's fixed styles");

constexpr UINT REDRAW_COLOURS = RDW_INVALIDATE | RDW_INTERNALPAINT | RDW_ERASE | RDW_FRAME;
constexpr int32_t MINIMUM_TEXT_HEIGHT = 20;

// Answers the colour requests of an editable field and of an enabled read-only
// one; a disabled field is always left to the default painting.
static LRESULT text_on_parent_message(Gadget* gadget, HWND, UINT message, WPARAM wparam, LPARAM)
{
    bool read_only = message == WM_CTLCOLORSTATIC;
    if (message != WM_CTLCOLOREDIT && !(read_only && IsWindowEnabled(gadget->handle)))
        return RESULT_DEFAULT;
    auto device = reinterpret_cast<HDC>(wparam);
    LRESULT result = RESULT_DEFAULT;
    if (gadget->front_color != -1) {
        SetTextColor(device, static_cast<COLORREF>(gadget->front_color));
        if (gadget->back_color == -1) {
            int index = read_only ? COLOR_3DFACE : COLOR_WINDOW;
            SetBkColor(device, GetSysColor(index));
            result = reinterpret_cast<LRESULT>(GetSysColorBrush(index));
        }
    }
    if (gadget->back_color != -1) {
        SetBkColor(device, static_cast<COLORREF>(gadget->back_color));
        result = reinterpret_cast<LRESULT>(gadget->back_brush);
    }
    return result;
}

static void text_on_destroy(Gadget* gadget)
{
    if (gadget->back_brush)
        brush_release(gadget->back_brush);
}

static int32_t text_get_attribute(Gadget* gadget, int32_t attribute)
{
    if (attribute != TEXT_ATTR_MAX_LENGTH)
        return 0;
    return static_cast<int32_t>(SendMessageW(gadget->handle, EM_GETLIMITTEXT, 0, 0));
}

// A limit below 1 becomes 1: the Edit control would read 0 as "no limit".
static void text_set_attribute(Gadget* gadget, int32_t attribute, int32_t value)
{
    if (attribute == TEXT_ATTR_MAX_LENGTH)
        SendMessageW(gadget->handle, EM_LIMITTEXT, static_cast<WPARAM>(std::max(value, 1)), 0);
}

static void set_back_color(Gadget* gadget, int32_t colour)
{
    if (gadget->back_brush)
        brush_release(gadget->back_brush);
    gadget->back_brush = colour == -1 ? nullptr : brush_acquire(static_cast<COLORREF>(colour));
    gadget->back_color = colour;
}

static void text_set_color(Gadget* gadget, int32_t which, int32_t colour)
{
    if (which == GADGET_COLOR_FRONT)
        gadget->front_color = colour;
    else if (which == GADGET_COLOR_BACK)
        set_back_color(gadget, colour);
    RedrawWindow(gadget->handle, nullptr, nullptr, REDRAW_COLOURS);
}

static int32_t text_get_color(Gadget* gadget, int32_t which)
{
    if (which == GADGET_COLOR_FRONT)
        return gadget->front_color;
    if (which == GADGET_COLOR_BACK)
        return gadget->back_color;
    return -1;
}

// One line of the control's font plus the edges; a text gadget asks for no
// width of its own.
static void text_required_size(Gadget* gadget, int32_t* width, int32_t* height)
{
    HDC device = GetDC(gadget->handle);
    auto font = reinterpret_cast<HFONT>(SendMessageW(gadget->handle, WM_GETFONT, 0, 0));
    HGDIOBJ previous = font ? SelectObject(device, font) : nullptr;
    SIZE extent = {};
    GetTextExtentPoint32W(device, L"Hg", 2, &extent);
    if (previous)
        SelectObject(device, previous);
    ReleaseDC(gadget->handle, device);
    *width = 2 * GetSystemMetrics(SM_CXEDGE);
    *height = std::max<int32_t>(extent.cy + 2 * GetSystemMetrics(SM_CYEDGE), MINIMUM_TEXT_HEIGHT);
}

const GadgetClass text_gadget_class = {
    TEXT_GADGET_KIND,         // kind_code
    sizeof(GadgetClass),      // size
    text_on_parent_message,   // on_parent_message
    text_on_destroy,          // on_destroy
    nullptr,                  // get_text
    nullptr,                  // set_text
    text_get_attribute,       // get_attribute
    text_set_attribute,       // set_attribute
    text_set_color,           // set_color
    text_get_color,           // get_color
    text_required_size,       // required_size
    nullptr,                  // focus
};

// Focus changes are posted before the Edit procedure sees them.
LRESULT CALLBACK text_gadget_proc(HWND control, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_SETFOCUS)
        gadget_post_event(control, GADGET_EVENT_FOCUS);
    else if (message == WM_KILLFOCUS)
        gadget_post_event(control, GADGET_EVENT_LOST_FOCUS);
    return CallWindowProcW(edit_class_proc, control, message, wparam, lparam);
}

// The control is made before the record is taken: a failed creation leaves a
// gadget of the same number untouched, and for a moment the new control
// exists beside the old one.
CreatedWindow gadget_create_text(intptr_t number, int32_t x, int32_t y, int32_t width,
                                 int32_t height, const unit16* text, uint32_t flags)
{
    auto* state = static_cast<GadgetContext*>(thread_data_get(gadget_context));
    if (!state || !state->list_parent)
        return CreatedWindow{};
    DWORD extended = (flags & GADGET_BORDERLESS) ? 0 : WS_EX_CLIENTEDGE;
    HWND control = CreateWindowExW(extended, L"Edit", reinterpret_cast<const wchar_t*>(text ? text : u""),
                                   flags | TEXT_GADGET_STYLE, x, y, width, height, state->list_parent,
                                   reinterpret_cast<HMENU>(static_cast<intptr_t>(-1)),
                                   static_cast<HINSTANCE>(instance_handle), nullptr);
    if (!control)
        return CreatedWindow{};
    auto* gadget = static_cast<Gadget*>(object_alloc(gadget_list, number));
    if (!gadget) {
        DestroyWindow(control);
        return CreatedWindow{};
    }
    edit_class_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(text_gadget_proc)));
    gadget->front_color = -1;
    gadget->back_color = -1;
    return gadget_register(number, gadget, control, &text_gadget_class);
}
