// tictool dump: shows everything an archive holds, as text lines or one
// JSON document.
#pragma once

#include "command_line.h"

// Exit status of a dump that read everything, and of one that did not.
constexpr int kDumpComplete = 0;
constexpr int kDumpIncomplete = 255;

int run_dump(const a_dump_request& request);
