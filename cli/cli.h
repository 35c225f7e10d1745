// glyphmend-cli: the letter table's repairs for files and pipes.
#pragma once

#include "cli/system.h"

#include <vector>

// Exit statuses.
constexpr int EXIT_REPAIRED = 0;  // also: --check found nothing
constexpr int EXIT_FOUND = 1;     // --check found a look-alike
constexpr int EXIT_TROUBLE = 2;   // a bad option, or a file that could not be read or written

// Runs the program on its arguments (without the program's name) and
// returns its exit status.
int run_cli(const std::vector<Argument>& arguments);
