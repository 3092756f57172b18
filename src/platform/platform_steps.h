// The steps of the platform's own operations. Their codes lie in the range
// the error word never carries (platform/failure.h).
#pragma once

#include "platform/failure.h"

inline constexpr a_step kStepOpenRegularFile{0x700, "cannot open the file"};
inline constexpr a_step kStepParseJson{0x701, "not a JSON document"};
inline constexpr a_step kStepJobCount{0x702, "not a number of jobs from 1 to 1024"};
