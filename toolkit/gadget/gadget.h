// Gadgets: native child controls (text fields) named by numbers like windows.
// A gadget's control carries its number as control identifier and in the
// property "Zeph_ID"; every path from a handle back to the record goes through
// that number and the gadget list. Teardown runs on the control's
// WM_NCDESTROY, whatever destroyed it.
#pragma once

#include <windows.h>

#include "platform/platform.h"
#include "runtime/objects/objects.h"
#include "toolkit/window/window.h"

#include <cstdint>

struct GadgetClass;

// One gadget; the record of the gadget list (zero-filled when allocated).
struct Gadget {
    HWND handle;                      // the control; null: the number is unused
    const GadgetClass* gadget_class;  // handlers of the gadget's kind
    WNDPROC previous_proc;            // what gadget_proc replaced and calls on
    int32_t back_color;               // COLORREF, -1 = system default
    int32_t front_color;              // COLORREF, -1 = system default
    HBRUSH back_brush;                // from the brush cache; null while back_color is -1
};

// Handlers of one gadget kind; a null slot means the default behaviour.
struct GadgetClass {
    int32_t kind_code;
    int32_t size;  // of this table
    LRESULT (*on_parent_message)(Gadget* gadget, HWND window, UINT message, WPARAM wparam,
                                 LPARAM lparam);
    void (*on_destroy)(Gadget* gadget);
    void (*get_text)(Gadget* gadget, uint32_t saved_offset);
    void (*set_text)(Gadget* gadget, const unit16* text);
    int32_t (*get_attribute)(Gadget* gadget, int32_t attribute);
    void (*set_attribute)(Gadget* gadget, int32_t attribute, int32_t value);
    void (*set_color)(Gadget* gadget, int32_t which, int32_t colour);
    int32_t (*get_color)(Gadget* gadget, int32_t which);
    void (*required_size)(Gadget* gadget, int32_t* width, int32_t* height);
    intptr_t (*focus)(Gadget* gadget);
};

// The gadget library's per-thread record.
struct GadgetContext {
    HWND list_parent;            // new gadgets go into this window; null: none
    HFONT gadget_font;           // sent to every new gadget
    HWND* enclosing_lists;       // stack of enclosing lists; entry 0 owns the current list
    int32_t enclosing_depth;
    int32_t enclosing_capacity;
};

// The gadget-list state a window keeps while another window's list is
// current; attached to the window as "Zeph_GadgetStack_<instance>".
struct GadgetListSave {
    HWND window;
    HWND saved_parent;
    HWND* saved_stack;   // null while this window's list is current
    int32_t saved_depth;
    int32_t saved_capacity;
    WNDPROC previous_proc;
};

// A gadget's control carries its number here as well as in its identifier.
inline constexpr wchar_t GADGET_ID_PROPERTY[] = L"Zeph_ID";

constexpr uint32_t GADGET_BORDERLESS = 0x20000;
constexpr int32_t GADGET_COLOR_FRONT = 1;
constexpr int32_t GADGET_COLOR_BACK = 2;
constexpr int32_t TEXT_ATTR_MAX_LENGTH = 1;
constexpr int32_t TEXT_GADGET_KIND = 2;

extern ObjectList* gadget_list;
extern GadgetContext* gadget_context;
extern const GadgetClass text_gadget_class;
// The Edit class's procedure, which text_gadget_proc passes every message on to.
extern WNDPROC edit_class_proc;
// Newest entry of the brush cache's chain; null when the cache is empty.
extern DynamicNode* brush_cache;

// ---- Start and end -----------------------------------------------------------

// Brush-cache lock, default font, gadget list, context, common-control classes.
// Must run before the first window is opened. 1 when the list and the
// context could be had; without them no gadget list can be used.
int32_t gadgets_init();
// Destroys no gadget: they go with their windows when the window library ends.
void gadgets_end();

// ---- Creation and teardown ---------------------------------------------------

// Creates an Edit control in the current gadget list: the gadget's number (for
// ANY_NUMBER the new one) and its control; both 0 on failure (no current
// list), leaving any gadget of that number untouched. A live gadget of the
// number is destroyed first.
CreatedWindow gadget_create_text(intptr_t number, int32_t x, int32_t y, int32_t width,
                                 int32_t height, const unit16* text, uint32_t flags);
// The common second half of every creation: fills the record, subclasses the
// control with gadget_proc, tags it with the number, sets the font.
// Returns what the creation returns.
CreatedWindow gadget_register(intptr_t number, Gadget* gadget, HWND control,
                              const GadgetClass* gadget_class);
// The live gadget of `number`, or null: the one lookup every operation uses.
Gadget* gadget_find(intptr_t number);
// Destroys gadget `number`'s control (-1: every gadget); the teardown runs in
// gadget_proc. 1 when a gadget was destroyed (always 1 for -1), else 0.
int32_t gadget_free(intptr_t number);

// Makes `window` the current gadget list (null: only asks). Returns the window
// that owned the current list before, or null.
HWND gadget_list_use(HWND window);

// Posts EV_GADGET of `type` for the control, with its window's number.
void gadget_post_event(HWND control, int32_t type);
// The nearest window from the control up that is a toolkit window, or the
// top-most ancestor when none is.
HWND window_of_gadget(HWND control);

// Outermost procedure of every gadget's control; tears the gadget down.
LRESULT CALLBACK gadget_proc(HWND control, UINT message, WPARAM wparam, LPARAM lparam);
// Between gadget_proc and the Edit procedure: reports focus changes.
LRESULT CALLBACK text_gadget_proc(HWND control, UINT message, WPARAM wparam, LPARAM lparam);
// On a window that has been a gadget list: frees its saved state on WM_NCDESTROY.
LRESULT CALLBACK gadget_list_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// ---- Text, focus and handle --------------------------------------------------

// Gives the gadget the keyboard focus (-1: no window keeps it). Returns the
// window that had the focus before, or 0 (also for an unknown number).
intptr_t gadget_focus(intptr_t number);
// The gadget's control, or 0.
HWND gadget_handle(intptr_t number);
// Temporary result: leaves the gadget's text in the TempStringArea from
// saved_offset up to the area's current offset. 1 when read; 0, and the
// empty string, for an unknown number or when the area could not grow.
int32_t gadget_get_text(intptr_t number, uint32_t saved_offset);
// Replaces the gadget's text (null: empty) without queueing its change event.
void gadget_set_text(intptr_t number, const unit16* text);

// ---- Colours -----------------------------------------------------------------

// Initialises the brush-cache lock; part of gadgets_init.
void brush_cache_init();
// A shared solid brush of the colour (one more reference), or null on failure.
// Takes the brush-cache lock.
HBRUSH brush_acquire(COLORREF colour);
// Drops one reference; the brush is deleted with its last one. A brush that is
// not in the cache is ignored. Takes the brush-cache lock.
void brush_release(HBRUSH brush);
