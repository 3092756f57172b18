// The error word, and the last failure as the programs explain it.
#include "platform/error_word.h"

#include <errno.h>
#include <gtest/gtest.h>

#include "support/fresh_error_word.h"

namespace {

constexpr a_step kWriting{0x5db, "cannot write the file"};
constexpr a_step kMatching{0x5e9, "stream does not match its MAC"};
constexpr a_step kOpening{0x4bb, "cannot open the file"};

}  // namespace

class ErrorWord : public FreshErrorWord {};

TEST_F(ErrorWord, TheWordIsErrnoOrTheStepCodeShiftedBy8) {
  errno = ENOSPC;
  record_error(kWriting);
  EXPECT_EQ(ERROR, ENOSPC | (0x5db << 8));
  EXPECT_EQ(error_step(ERROR), kWriting.code);
  EXPECT_EQ(error_errno(ERROR), ENOSPC);
  EXPECT_EQ(error_cause(), "No space left on device");
  record_not_in_toc("bin/extra");
  EXPECT_EQ(ERROR, kErrorNotInToc);
  EXPECT_EQ(error_subject(), "bin/extra");
  EXPECT_EQ(error_cause(), "file not in the table of contents");
}

TEST_F(ErrorWord, TheLastFailureKeepsItsSubjectAndPrefersAGivenCause) {
  errno = ENOENT;
  record_error(kOpening, "bin/tool");
  EXPECT_EQ(error_subject(), "bin/tool");
  EXPECT_EQ(error_cause(), "No such file or directory");
  errno = 0;
  record_error(kMatching, "lib/x");
  EXPECT_EQ(error_cause(), "stream does not match its MAC") << "without errno the step's phrase says it";
  record_error(kWriting, "a/x", "refusing to write through symbolic link a");
  EXPECT_EQ(error_cause(), "refusing to write through symbolic link a");
  record_error(kMatching);
  EXPECT_EQ(error_subject(), "") << "a step that names nothing clears the subject";
}

TEST_F(ErrorWord, AFailureKeepsItsFirstStepUntilItIsPublished) {
  a_failure failure;
  errno = EACCES;
  EXPECT_FALSE(failure.set(kOpening));
  errno = EIO;
  failure.set(kWriting, "later");
  EXPECT_EQ(failure.step, kOpening);
  EXPECT_EQ(failure.text(), "Permission denied");
  EXPECT_EQ(ERROR, 0) << "nothing is published before publish()";
  failure.publish("etc/conf");
  EXPECT_EQ(ERROR, EACCES | (0x4bb << 8));
  EXPECT_EQ(error_subject(), "etc/conf");
}

TEST(Results, AnOutcomeOrAValueCarriesItsFailure) {
  errno = ENOENT;
  const Result<int> missing = failure_of(kOpening, "etc/conf");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.failure().subject, "etc/conf");
  EXPECT_EQ(missing.failure().text(), "No such file or directory");
  EXPECT_FALSE(missing.outcome().ok());
  const Result<std::string> found = std::string("value");
  ASSERT_TRUE(found.ok());
  EXPECT_EQ(found.value(), "value");
  EXPECT_TRUE(found.outcome().ok());
  EXPECT_TRUE(Outcome().ok());
}
