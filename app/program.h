// The window program's whole life, kept apart from the process's entry point
// so that a test can run it, and the one decision in it that is a pure
// function of what the system reports.
#pragma once

#include <cstdint>

// Starts the runtime and the toolkit, opens the two-pane window, pastes the
// clipboard into the left pane and repairs its text on every change until
// Esc or the close button; then shuts everything down. A start-up or a
// window that fails for lack of memory ends in the same shut-down. The
// caller ends the process, always with exit code 0.
void glyphmend_run();

// GetAsyncKeyState's 0x8001 sign-extended: down now and pressed since the
// previous query.
constexpr uint32_t ESCAPE_NEW_PRESS = 0xFFFF8001;

// 1 when Esc ends the program: GetAsyncKeyState(VK_ESCAPE), taken as a whole
// 32-bit value, is exactly ESCAPE_NEW_PRESS, and the foreground window
// belongs to the program's own thread. The key state is the whole system's,
// so a press meant for another program must not end ours.
int32_t escape_ends_program(uint32_t escape_state, uint32_t foreground_thread,
                            uint32_t own_thread);
