// Toolkit windows: numbered top-level windows with a class of their own, the
// window procedure that turns native messages into events, focus navigation,
// and the probes of the environment the program runs in.
#pragma once

#include <windows.h>

#include "platform/platform.h"
#include "runtime/objects/objects.h"

#include <cstdint>

// ---- Windows and the window procedure --------------------------------------

// Consulted before the toolkit's own handling; RESULT_CALLBACK_PASS lets it go on.
using WindowMessageCallback = LRESULT (*)(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Asked to erase a window's background when the record holds no brush.
using WindowEraseHandler = LRESULT (*)(HDC device, HWND window);

// One per window; the record of the window list (zero-filled when allocated).
struct WindowRecord {
    HWND handle;                            // null: the number is unused
    ACCEL* accelerator_entries;             // main heap; the table was built from them
    HACCEL accelerator_table;               // the pump translates with it
    WindowMessageCallback message_callback; // null when none
    int32_t accelerator_count;
    int32_t background_color;               // -1 when none has been set
    HBRUSH background_brush;                // fills the client area on WM_ERASEBKGND
    HWND mdi_client;                        // null for a top-level window
    WindowEraseHandler erase_handler;       // null when none
    uint16_t min_width;                     // tracking-size limits, 0 = no limit
    uint16_t min_height;
    uint16_t max_width;
    uint16_t max_height;
    int32_t minimized_or_maximized;         // drives EV_RESTORE
};

// The window library's per-thread record. The pump writes the message fields.
struct WindowThreadState {
    WPARAM last_wparam;
    LPARAM last_lparam;
    WPARAM last_wparam_copy;
    LPARAM last_lparam_copy;
    WindowMessageCallback default_message_callback;  // for windows without their own
};

extern ObjectList* window_list;
extern WindowThreadState* window_state;

// Flags of window_create. Every other bit is a native window style.
constexpr uint32_t WINDOW_CENTER_SCREEN = 0x1;
constexpr uint32_t WINDOW_CENTER_PARENT = 0x2;
constexpr uint32_t WINDOW_TOOL = 0x4;
constexpr uint32_t WINDOW_NO_GADGET_LIST = 0x8;
constexpr uint32_t WINDOW_NO_ACTIVATE = 0x2000000;
constexpr uint32_t WINDOW_INVISIBLE = 0x10000000;

constexpr int32_t POSITION_DEFAULT = -65535;
constexpr int32_t NAV_NEXT_COMMAND = 64001;
constexpr int32_t NAV_PREV_COMMAND = 64002;

// "Not handled": the class procedure lets the default procedure run.
constexpr LRESULT RESULT_DEFAULT = (LRESULT)0xD0D0D0D1;
// A message callback's "not handled": the toolkit's own handling goes on.
constexpr LRESULT RESULT_CALLBACK_PASS = (LRESULT)0xE0E0E0E1;

// Window properties: a toolkit window carries its number + 1, so a missing
// property (read as 0) means no toolkit window; drop targets are marked.
inline constexpr wchar_t WINDOW_ID_PROPERTY[] = L"Zeph_WindowID";
inline constexpr wchar_t DROP_ACCEPT_PROPERTY[] = L"Zeph_DropAccept";

// Class and property names made of a prefix and a number take the whole
// number, which needs more than 32 bits for a dynamic object's address or
// the module instance at 64 bits. The prefix is ASCII, at most 24 characters.
constexpr int32_t NUMBERED_NAME_SIZE = 24 + NUMBER_TEXT_SIZE;
void numbered_name(wchar_t (&name)[NUMBERED_NAME_SIZE], const char* prefix, intptr_t number);

constexpr UINT MSG_NOTIFY_ICON = 12501;
constexpr UINT MSG_GADGET_REFLECT = 13120;

// What a creation of a window or a gadget gives, the two told apart: the
// object's number (for ANY_NUMBER the record's address) and its native
// window. Both are 0 when the creation failed.
struct CreatedWindow {
    intptr_t number;
    HWND handle;
};

// Creates the window list and the per-thread record, loads icon and cursor.
// 1 when the list and the record could be had.
int32_t windows_init();
// Frees every window still open.
void windows_end();

// Opens window `number` (ANY_NUMBER: the toolkit chooses) whose client area is
// width by height; its number and handle, or both 0. An existing window of
// that number is destroyed first.
CreatedWindow window_create(intptr_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                            const unit16* title, uint32_t flags, HWND parent);
// window_create without a parent.
CreatedWindow window_open(intptr_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                          const unit16* title, uint32_t flags);
// Sets the caption; a null title or an unknown number does nothing.
void window_set_title(intptr_t number, const unit16* title);
// Destroys window `number` and all attached to it (-1: every window). Returns
// 1 when a window was freed (always for -1), else 0. The window list's free callback.
int32_t window_free(intptr_t number);
// Releases the toolkit's side of window `number` (record, accelerators, brush,
// queued events, bindings) when its native window goes without window_free,
// with its parent for instance. Called from the window's WM_NCDESTROY.
void window_forget(intptr_t number, HWND window);
// Moves a freshly created window by the centring bits of flags; never resizes it.
void window_center(HWND window, uint32_t flags, HWND parent);

// The registered procedure of every toolkit window class.
LRESULT CALLBACK window_class_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Turns the messages that matter into events; RESULT_DEFAULT when not handled.
LRESULT window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Hands a message to the gadget whose control is `control`; RESULT_DEFAULT
// when it is no gadget or its class does not answer parent messages.
LRESULT gadget_forward(HWND control, HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Moves the focus to the next (0) or previous (1) tab stop of the active window.
void focus_navigate(int32_t backward);
// Shows (1) or hides (0) the focus rectangles and accelerator underlines.
void keyboard_cues(HWND window, int32_t show);

// ---- Environment probes ------------------------------------------------------
// Looked at once during start-up: whether the system can alpha-blend, and
// whether visual themes are in effect for the program.

using AlphaBlendRoutine = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int,
                                        BLENDFUNCTION);

extern HMODULE blend_library;          // "msimg32.dll" until environment_end; null when missing
extern AlphaBlendRoutine alpha_blend;  // its "AlphaBlend"; null when missing
extern int32_t themed;                 // 1 when visual themes are in effect

// Loads the blend library and decides `themed`.
void environment_init();
// Releases the blend library.
void environment_end();
// 1 when "uxtheme.dll" says the application is themed and "COMCTL32.DLL" is
// version 6.0 or later. Both libraries are released again.
int32_t themes_in_use();
// themes_in_use with the two roles played by the named libraries.
int32_t themes_in_use_from(const unit16* controls_library, const unit16* theme_library);

// The decisions apart from the probing.
// 0 for systems that cannot theme: the 9x platform (1), and NT (2) before 5.1.
int32_t version_allows_themes(uint32_t platform_id, uint32_t major_version, uint32_t minor_version);
// 1 when the application is themed and the common-controls version (major in
// the high 16 bits, minor in the low) is at least 6.0, 0x60000.
int32_t themes_answer(uint32_t controls_version, int32_t app_themed);
// `themed` from the version read (null when it could not be read, which
// allows themes) and `probe`, which is asked only when the version allows them.
int32_t themes_decide(const OSVERSIONINFOW* version, int32_t (*probe)());
