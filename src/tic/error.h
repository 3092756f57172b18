// The archive module's error word.
//
// One process-wide 64-bit word, 0 at start. Every failing step of the archive
// module stores a nonzero code in it: errno OR the step's code shifted left
// by 8, widened with sign. Nothing ever resets it; callers only test whether
// it is nonzero, so a failure anywhere in the process is sticky.
#pragma once

extern long long ERROR;

// ERROR = errno | (step << 8), as a signed 32-bit value widened to 64 bits.
void record_error(unsigned step);

// record_error(step), then false: the result of a step that failed.
bool record_failure(unsigned step);
