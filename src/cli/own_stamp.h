// kestrel's own version stamp block, built into the executable.
#pragma once

#include <cstddef>

// The block, filled at build time: marker, entries, closing NUL, the 8 data
// bytes of extension "A" and a final NUL. It lives in the program's read-only
// data, which stripping leaves in place, so `kestrel version MODULE <kestrel>`
// finds it in any copy of the executable.
constexpr size_t kOwnStampSize = 499;
extern const char __DBVersionInfo_kestrel[];

// kestrel --version: prints "kestrel <major>.<minor>.<patch> build <build>"
// from the program's own stamp on standard output. 0, or -1 when the stamp
// does not read.
int print_own_version();
