// Entry names: the paths, relative to the install directory, under which an
// archive stores its files.
#pragma once

#include <string>

// Why |name| cannot name a file inside the install directory ("empty name",
// "absolute path", "\"..\" in path"), or null when it can. Extraction
// refuses such names and the archive tool does not store them.
const char* entry_name_problem(const std::string& name);
