// Gadget records, registration, teardown and the current gadget list.

#include "toolkit/gadget/gadget.h"

#include "toolkit/event/event.h"
#include "toolkit/window/window.h"

#include <commctrl.h>

ObjectList* gadget_list;
GadgetContext* gadget_context;

static_assert(sizeof(Gadget) == by_width(24, 40), "Gadget keeps its layout");
static_assert(sizeof(GadgetClass) == by_width(48, 88), "GadgetClass keeps its layout");
static_assert(sizeof(GadgetContext) == by_width(20, 32), "GadgetContext keeps its layout");
static_assert(sizeof(GadgetListSave) == by_width(24, 40), "GadgetListSave keeps its layout");

static HFONT default_font;
// "Zeph_GadgetStack_" and the instance handle, formatted once by gadgets_init.
static wchar_t stack_property[NUMBERED_NAME_SIZE];

constexpr int32_t GADGET_LIST_STEP = 50;
constexpr int32_t ENCLOSING_CAPACITY = 10;
constexpr DWORD COMMON_CONTROL_CLASSES = ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES |
                                         ICC_USEREX_CLASSES | ICC_INTERNET_CLASSES;
static_assert(COMMON_CONTROL_CLASSES == 0xB48, "the common-control classes the toolkit uses");

static GadgetContext* context()
{
    return static_cast<GadgetContext*>(thread_data_get(gadget_context));
}

// A zeroed stack of enclosing lists; null when the heap refuses.
static HWND* enclosing_stack_new()
{
    return static_cast<HWND*>(heap_alloc(main_heap, ENCLOSING_CAPACITY * sizeof(HWND), 1));
}

static void context_construct(void* record)
{
    auto* state = static_cast<GadgetContext*>(record);
    state->enclosing_lists = enclosing_stack_new();
    state->enclosing_capacity = state->enclosing_lists ? ENCLOSING_CAPACITY : 0;
    state->gadget_font = default_font;
}

static void context_destruct(void* record)
{
    auto* state = static_cast<GadgetContext*>(record);
    if (state->enclosing_lists)
        heap_free(main_heap, state->enclosing_lists);
}

int32_t gadgets_init()
{
    brush_cache_init();
    default_font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    gadget_list = object_list_new(sizeof(Gadget), GADGET_LIST_STEP, gadget_free);
    gadget_context = static_cast<GadgetContext*>(
        thread_data_new(sizeof(GadgetContext), context_construct, context_destruct));
    numbered_name(stack_property, "Zeph_GadgetStack_", reinterpret_cast<intptr_t>(instance_handle));
    INITCOMMONCONTROLSEX controls = {sizeof(controls), COMMON_CONTROL_CLASSES};
    InitCommonControlsEx(&controls);
    return gadget_list && gadget_context;
}

// The brush-cache lock stays: windows_end, which runs after this, still
// releases brushes while it destroys the gadgets.
void gadgets_end() {}

Gadget* gadget_find(intptr_t number)
{
    return static_cast<Gadget*>(object_get(gadget_list, number));
}

// The identifier and "Zeph_ID" hold the whole number: the identifier is
// written and read as a pointer-sized value.
CreatedWindow gadget_register(intptr_t number, Gadget* gadget, HWND control,
                              const GadgetClass* gadget_class)
{
    if (number == ANY_NUMBER)
        number = reinterpret_cast<intptr_t>(gadget);
    gadget->handle = control;
    gadget->gadget_class = gadget_class;
    gadget->previous_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gadget_proc)));
    SetWindowLongPtrW(control, GWLP_ID, number);
    SetPropW(control, GADGET_ID_PROPERTY, reinterpret_cast<HANDLE>(number));
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(context()->gadget_font), TRUE);
    return CreatedWindow{number, control};
}

static intptr_t control_number(HWND control)
{
    return GetWindowLongPtrW(control, GWLP_ID);
}

// Runs after the control's own WM_NCDESTROY handling. The record is looked
// up again: the previous procedures may have run bindings.
static void gadget_teardown(HWND control, intptr_t number)
{
    if (Gadget* gadget = gadget_find(number)) {
        if (gadget->gadget_class && gadget->gadget_class->on_destroy)
            gadget->gadget_class->on_destroy(gadget);
    }
    RemovePropW(control, GADGET_ID_PROPERTY);
    if (RemovePropW(control, DROP_ACCEPT_PROPERTY))
        RevokeDragDrop(control);
    SetWindowLongPtrW(control, GWLP_ID, -1);
    event_purge(EV_GADGET, number, -1, -1);
    object_release(gadget_list, number);
}

LRESULT CALLBACK gadget_proc(HWND control, UINT message, WPARAM wparam, LPARAM lparam)
{
    intptr_t number = control_number(control);
    Gadget* gadget = number == -1 ? nullptr : gadget_find(number);
    if (!gadget)
        return DefWindowProcW(control, message, wparam, lparam);
    LRESULT result = CallWindowProcW(gadget->previous_proc, control, message, wparam, lparam);
    if (message == WM_NCDESTROY)
        gadget_teardown(control, number);
    return result;
}

int32_t gadget_free(intptr_t number)
{
    if (number == -1) {
        object_list_free_all(gadget_list);
        return 1;
    }
    Gadget* gadget = gadget_find(number);
    if (!gadget)
        return 0;
    DestroyWindow(gadget->handle);
    return 1;
}

HWND window_of_gadget(HWND control)
{
    HWND current = control;
    while (HWND parent = GetParent(current)) {
        if (GetPropW(current, WINDOW_ID_PROPERTY))
            break;
        current = parent;
    }
    return current;
}

void gadget_post_event(HWND control, int32_t type)
{
    HWND window = window_of_gadget(control);
    intptr_t window_number = reinterpret_cast<intptr_t>(GetPropW(window, WINDOW_ID_PROPERTY)) - 1;
    event_post_simple(EV_GADGET, control_number(control), window_number, type);
}

// ---- The current gadget list ---------------------------------------------------

static HWND current_list_owner(const GadgetContext* state)
{
    return state->enclosing_depth ? state->enclosing_lists[0] : state->list_parent;
}

static GadgetListSave* list_save_of(HWND window)
{
    return static_cast<GadgetListSave*>(GetPropW(window, stack_property));
}

// The context lets go of its stack: the window keeps it while another list is current.
static void save_list_state(GadgetContext* state, GadgetListSave* save)
{
    save->saved_parent = state->list_parent;
    save->saved_stack = state->enclosing_lists;
    save->saved_depth = state->enclosing_depth;
    save->saved_capacity = state->enclosing_capacity;
    state->enclosing_lists = nullptr;
}

static void restore_list_state(GadgetContext* state, GadgetListSave* save)
{
    if (state->enclosing_lists)
        heap_free(main_heap, state->enclosing_lists);
    state->list_parent = save->saved_parent;
    state->enclosing_lists = save->saved_stack;
    state->enclosing_depth = save->saved_depth;
    state->enclosing_capacity = save->saved_capacity;
    save->saved_stack = nullptr;
}

// First use of a window as a gadget list: a fresh stack, a save record on the
// window, and gadget_list_proc in front of its procedure to free that record.
static void start_list_state(GadgetContext* state, HWND window)
{
    if (!state->enclosing_lists) {
        state->enclosing_lists = enclosing_stack_new();
        state->enclosing_capacity = state->enclosing_lists ? ENCLOSING_CAPACITY : 0;
    }
    state->enclosing_depth = 0;
    state->list_parent = window;
    auto* save = static_cast<GadgetListSave*>(heap_alloc(main_heap, sizeof(GadgetListSave), 1));
    if (!save)
        return;
    save->window = window;
    SetPropW(window, stack_property, save);
    save->previous_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gadget_list_proc)));
}

HWND gadget_list_use(HWND window)
{
    GadgetContext* state = context();
    if (!state)
        return nullptr;
    HWND previous = current_list_owner(state);
    if (!window)
        return previous;
    if (GadgetListSave* save = previous ? list_save_of(previous) : nullptr)
        save_list_state(state, save);
    if (GadgetListSave* save = list_save_of(window))
        restore_list_state(state, save);
    else
        start_list_state(state, window);
    return previous;
}

// The window goes: it stops being the current list, and its save record goes with it.
static void forget_list_state(HWND window, GadgetListSave* save)
{
    GadgetContext* state = context();
    if (state && current_list_owner(state) == window) {
        state->list_parent = nullptr;
        state->enclosing_depth = 0;
    }
    if (save->saved_stack)
        heap_free(main_heap, save->saved_stack);
    heap_free(main_heap, save);
    RemovePropW(window, stack_property);
}

LRESULT CALLBACK gadget_list_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    GadgetListSave* save = list_save_of(window);
    if (!save)
        return DefWindowProcW(window, message, wparam, lparam);
    WNDPROC previous = save->previous_proc;
    if (message == WM_NCDESTROY)
        forget_list_state(window, save);
    if (!previous)
        return DefWindowProcW(window, message, wparam, lparam);
    return CallWindowProcW(previous, window, message, wparam, lparam);
}
