// The error word as the programs explain it.
#include "tic/error.h"

#include <errno.h>
#include <gtest/gtest.h>

#include "support/fresh_error_word.h"

class ErrorWord : public FreshErrorWord {};

TEST_F(ErrorWord, SentencesNameTheStepAndTheSystemError) {
  const struct { long long word; const char* sentence; } cases[] = {
      {0, "no error"},
      {ENOSPC | (kStepWriteEntry << 8), "cannot write the file: No space left on device"},
      {kStepMacMismatch << 8, "stream does not match its MAC"},
      {kErrorNotInToc, "file not in the table of contents"},
      {EIO | (0x123 << 8), "failed at step 291: Input/output error"},
  };
  for (const auto& c : cases) EXPECT_EQ(error_sentence(c.word), c.sentence) << std::hex << c.word;
}

TEST_F(ErrorWord, TheLastFailureKeepsItsSubjectAndPrefersAGivenCause) {
  errno = ENOENT;
  record_error(kStepOpenFile, "bin/tool");
  EXPECT_EQ(error_step(ERROR), kStepOpenFile);
  EXPECT_EQ(error_subject(), "bin/tool");
  EXPECT_EQ(error_cause(), "No such file or directory");
  errno = 0;
  record_error(kStepMacMismatch, "lib/x");
  EXPECT_EQ(error_cause(), "stream does not match its MAC");
  record_error(kStepWriteEntry, "a/x", "refusing to write through symbolic link a");
  EXPECT_EQ(error_cause(), "refusing to write through symbolic link a");
  record_error(kStepSeekData);
  EXPECT_EQ(error_subject(), "") << "a step that names nothing clears the subject";
}
