// Entry names: the paths, relative to the install directory, under which an
// archive stores its files.
#pragma once

#include <cstdint>
#include <string>

#include "platform/failure.h"

// Whether |name| can name a file inside the install directory: a failure
// of kStepEntryName about it says why not ("empty name", "absolute path",
// "control character in name", "\"..\" in path"). Extraction refuses such
// names and the archive tool does not store them. Any other bytes make a
// name, UTF-8 or not.
Outcome valid_entry_name(const std::string& name);

// True when |name| holds a control character: a byte below 0x20, 0x7f, or a
// C1 control (U+0080 to U+009F) written in UTF-8. Such a name could forge
// lines of the install log or drive the terminal that shows it.
bool holds_control_character(const std::string& name);

