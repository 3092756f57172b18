// tictool's own version stamp block.
#pragma once

#include <cstddef>

extern const char __DBVersionInfo_tictool[];
extern const size_t kTictoolStampSize;
