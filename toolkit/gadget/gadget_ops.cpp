// The operations the program calls on a gadget by number: focus, handle and
// text. An unknown number makes each of them a no-op.

#include "toolkit/gadget/gadget.h"

#include "runtime/strings/strings.h"
#include "toolkit/event/event.h"

intptr_t gadget_focus(intptr_t number)
{
    if (number == -1)
        return reinterpret_cast<intptr_t>(SetFocus(nullptr));
    Gadget* gadget = gadget_find(number);
    if (!gadget)
        return 0;
    if (gadget->gadget_class->focus)
        return gadget->gadget_class->focus(gadget);
    return reinterpret_cast<intptr_t>(SetFocus(gadget->handle));
}

HWND gadget_handle(intptr_t number)
{
    Gadget* gadget = gadget_find(number);
    return gadget ? gadget->handle : nullptr;
}

// Reads straight into the area. The native length may exceed what is copied,
// so the offset is moved back to end exactly behind the characters read.
// When the area cannot grow, the result is the empty string.
static int32_t read_control_text(HWND control, uint32_t saved_offset)
{
    auto length = static_cast<uint32_t>(GetWindowTextLengthW(control));
    unit16* destination = string_reserve(length, saved_offset);
    if (!destination)
        return 0;
    destination[0] = 0;
    GetWindowTextW(control, reinterpret_cast<wchar_t*>(destination), static_cast<int>(length + 1));
    string_pop(length - u16_len(destination));
    return 1;
}

// A kind's own reader cannot tell of a refusal, so its result counts as read.
int32_t gadget_get_text(intptr_t number, uint32_t saved_offset)
{
    Gadget* gadget = gadget_find(number);
    if (!gadget)
        return 0;
    if (gadget->gadget_class->get_text) {
        gadget->gadget_class->get_text(gadget, saved_offset);
        return 1;
    }
    return read_control_text(gadget->handle, saved_offset);
}

// The control notifies its window synchronously inside the change, while the
// suppression holds, so the change never comes back as a user event.
void gadget_set_text(intptr_t number, const unit16* text)
{
    const unit16* shown = text ? text : u"";
    Gadget* gadget = gadget_find(number);
    if (!gadget)
        return;
    event_suppress_begin();
    if (gadget->gadget_class->set_text)
        gadget->gadget_class->set_text(gadget, shown);
    else
        SetWindowTextW(gadget->handle, reinterpret_cast<const wchar_t*>(shown));
    event_suppress_end();
}
