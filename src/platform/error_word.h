// The archive module's error word.
//
// ERROR is one process-wide 64-bit word, 0 at start. Every failing step of
// the archive module stores a nonzero code in it: errno OR the step's code
// shifted left by 8, widened with sign. Nothing ever resets it; callers only
// test whether it is nonzero, so a failure anywhere in the process is sticky.
// The builder's "file not in the table of contents" stores all ones.
//
// Alongside the word the module keeps what the failing step worked on (a file
// of the archive, the archive itself) and, where errno cannot say it, why it
// failed; the programs turn that into their one-line messages.
#pragma once

#include <string>

#include "platform/failure.h"

extern long long ERROR;

// The word the builder stores for a scanned file that the table of contents
// does not list.
constexpr long long kErrorNotInToc = -1;

// The word for a failure of the step with |code| with |error| (an errno
// value): error OR code << 8, as a signed 32-bit value widened to 64 bits;
// and its parts.
long long error_word(int error, unsigned code);
unsigned error_step(long long word);
int error_errno(long long word);

// ERROR = error_word(errno, step.code). The overloads with |subject| also
// record what the step worked on (an entry name, an input path, an archive
// path) and, when given, |cause|: why it failed, where errno cannot say it.
void record_error(const a_step& step);
void record_error(const a_step& step, const std::string& subject, const std::string& cause = std::string());

// Stores kErrorNotInToc, the builder's word for a file the table of
// contents does not list, about |subject|.
void record_not_in_toc(const std::string& subject);

// record_error(...), then false: the result of a step that failed.
bool record_failure(const a_step& step);
bool record_failure(const a_step& step, const std::string& subject, const std::string& cause = std::string());

// What the last recorded failure concerned (empty when its step did not say)
// and why it failed: the recorded cause, else the text of its errno, else
// its step's phrase.
const std::string& error_subject();
std::string error_cause();
