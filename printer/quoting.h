// File names and words as the check lines show them.
#pragma once

#include <cstddef>
#include <string>

// `name` as it is when every character is printable UTF-8; otherwise in
// the shell's quotes, each control character or invalid byte as $'\n' or
// $'\ooo', as coreutils shows such names, so that one line stays one line.
std::string quoted_name(const std::string& name);

// A UTF-8 text of more than `longest` characters shortened to `longest`,
// its middle replaced by an ellipsis.
std::string shortened(const char* text, size_t size, size_t longest);
