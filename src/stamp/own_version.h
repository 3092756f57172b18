// The one-line version a program of the product prints for --version,
// taken from its own stamp block.
#pragma once

#include <cstddef>
#include <string>

// "<MODULE> <VERSION_MAJOR>.<VERSION_MINOR>.<VERSION_PATCH> build
// <BUILD_NUMBER>" from the block of |size| bytes at |block| (marker first).
// False when the block does not parse or lacks one of the keys.
bool own_version_line(const char* block, size_t size, std::string& line);
