// Runtime containers: a fixed-size block pool, a string-keyed hash map with
// inline values, and the value descriptors that let containers manage the
// strings and nested containers inside their values.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// ---- Block pool ------------------------------------------------------------

// ---- Hash map and value descriptors ---------------------------------------
