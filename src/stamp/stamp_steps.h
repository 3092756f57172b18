// The steps of reading and composing version stamp blocks. Their codes lie
// in the range the error word never carries (platform/failure.h).
#pragma once

#include "platform/failure.h"

inline constexpr a_step kStepStampBlock{0x710, "not a version stamp block"};
inline constexpr a_step kStepStampEntry{0x711, "cannot be an entry of a version stamp block"};
