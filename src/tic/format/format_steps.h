// The steps of decoding and encoding the TIC format in memory. Their codes
// lie in the range the error word never carries (platform/failure.h): the
// archive classes tell these failures as their own.
#pragma once

#include "platform/failure.h"

inline constexpr a_step kStepHeader{0x720, "header cut short"};
inline constexpr a_step kStepTables{0x721, "cannot read the table of contents"};
// The list reader's two refusals; "load: <phrase>: <name>" on standard error.
inline constexpr a_step kStepInvalidEntry{0x722, "invalid entry found"};
inline constexpr a_step kStepDuplicateFile{0x723, "duplicate file found"};
inline constexpr a_step kStepListText{0x724, "table cannot be written as a list"};
inline constexpr a_step kStepEntryName{0x725, "not a name inside the install directory"};
