// tictool build: scans the named paths and writes the archive.
#pragma once

#include "command_line.h"

// Runs the build. Problems are one line each on standard error, beginning
// with "tictool: " (or the archive library's own message). 0 on success,
// 1 on any failure; an archive that was not completed is removed.
int run_build(const a_build_request& request);
