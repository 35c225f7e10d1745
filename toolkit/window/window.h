// Toolkit windows: numbered top-level windows with a class of their own, the
// window procedure that turns native messages into events, focus navigation,
// and the probes of the environment the program runs in.
#pragma once

#include <windows.h>

#include "platform/platform.h"
#include "runtime/objects/objects.h"

#include <cstdint>

// ---- Windows and the window procedure --------------------------------------

// ---- Environment probes ------------------------------------------------------
