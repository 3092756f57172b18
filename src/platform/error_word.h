// The archive module's error word.
//
// ERROR is one process-wide 64-bit word, 0 at start. Every failing step of
// the archive module stores a nonzero code in it: errno OR the step's code
// shifted left by 8, widened with sign. Nothing ever resets it; callers only
// test whether it is nonzero, so a failure anywhere in the process is sticky.
// The builder's "file not in the table of contents" stores all ones.
//
// Only the archive classes write it, at their boundary: the operations
// below them return their failure (platform/failure.h), and the operation
// the program called publishes it (a_failure::publish). The word keeps the
// failure it was last published from, for the programs' one-line messages.
#pragma once

#include <string>

#include "platform/failure.h"

extern long long ERROR;

// The word the builder stores for a scanned file that the table of contents
// does not list, and the code of its step, which makes that word.
constexpr long long kErrorNotInToc = -1;
constexpr unsigned kNotInTocCode = 0xfff;

// The word for a failure of the step with |code| with |error| (an errno
// value): error OR code << 8, as a signed 32-bit value widened to 64 bits;
// and its parts.
long long error_word(int error, unsigned code);
unsigned error_step(long long word);
int error_errno(long long word);

// The failure ERROR was last published from; no failure before the first.
const a_failure& published_failure();

// The failure last published, about |fallback| when it named nothing: what
// a caller of an archive class's plain return (0 / -1) makes of it.
a_failure recorded_failure(const std::string& fallback);
