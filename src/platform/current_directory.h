// The process's working directory, whatever its length.
#pragma once

#include <string>

// Stores the working directory in |out|; false (errno set) when it cannot be
// had.
bool current_directory(std::string& out);
