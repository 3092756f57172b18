// The error word, the failure it was published from as the programs explain
// it, and the results that carry a failure.
#include "platform/error_word.h"

#include <errno.h>
#include <gtest/gtest.h>

#include "support/fresh_error_word.h"

namespace {

constexpr a_step kWriting{0x5db, "cannot write the file"};
constexpr a_step kMatching{0x5e9, "stream does not match its MAC"};
constexpr a_step kOpening{0x4bb, "cannot open the file"};
constexpr a_step kNotInToc{kNotInTocCode, "file not in the table of contents"};
constexpr a_step kDecoding{0x720, "header cut short"};

}  // namespace

class ErrorWord : public FreshErrorWord {};

TEST_F(ErrorWord, TheWordIsErrnoOrTheStepCodeShiftedBy8) {
  errno = ENOSPC;
  failure_of(kWriting, "").publish();
  EXPECT_EQ(ERROR, ENOSPC | (0x5db << 8));
  EXPECT_EQ(error_step(ERROR), kWriting.code);
  EXPECT_EQ(error_errno(ERROR), ENOSPC);
  EXPECT_EQ(published_failure().text(), "No space left on device");
  refusal_of(kNotInToc, "bin/extra").publish();
  EXPECT_EQ(ERROR, kErrorNotInToc) << "the builder's file not in the table: all ones";
  EXPECT_EQ(error_step(ERROR), kNotInTocCode);
  EXPECT_EQ(published_failure().subject, "bin/extra");
  EXPECT_EQ(published_failure().text(), "file not in the table of contents");
}

TEST_F(ErrorWord, ThePublishedFailureKeepsItsSubjectAndPrefersAGivenCause) {
  errno = ENOENT;
  failure_of(kOpening, "bin/tool").publish();
  EXPECT_EQ(published_failure().subject, "bin/tool");
  EXPECT_EQ(published_failure().text(), "No such file or directory");
  errno = 0;
  failure_of(kMatching, "lib/x").publish();
  EXPECT_EQ(published_failure().text(), "stream does not match its MAC") << "without errno the step's phrase says it";
  failure_of(kWriting, "a/x", "refusing to write through symbolic link a").publish();
  EXPECT_EQ(published_failure().text(), "refusing to write through symbolic link a");
  failure_of(kMatching, "").publish();
  EXPECT_EQ(published_failure().subject, "") << "a step that names nothing clears the subject";
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
  EXPECT_FALSE(failure.publish("etc/conf"));
  EXPECT_EQ(ERROR, EACCES | (0x4bb << 8));
  EXPECT_EQ(published_failure().subject, "etc/conf");
  EXPECT_EQ(published_failure().step, kOpening);
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

// A refusal carries no errno, whatever errno holds; a failure told under an
// outer step keeps what it said, and a message line names its subject.
TEST(Results, AFailureToldAgainLosesNothingItSaid) {
  errno = EIO;
  const a_failure cut = refusal_of(kDecoding, "");
  EXPECT_EQ(cut.error, 0);
  EXPECT_EQ(cut.text(), "header cut short");
  const a_failure told = cut.as(kOpening).about("a.tic");
  EXPECT_EQ(told.step, kOpening);
  EXPECT_EQ(told.text(), "header cut short") << "the inner step's phrase becomes the cause";
  EXPECT_EQ(told.line(), "a.tic: header cut short");
  EXPECT_EQ(cut.line(), "header cut short") << "a failure that names nothing is its text alone";

  errno = EACCES;
  const a_failure denied = failure_of(kOpening, "etc/conf").as(kWriting);
  EXPECT_EQ(denied.error, EACCES);
  EXPECT_EQ(denied.cause, "") << "errno still says why";
  EXPECT_EQ(denied.line(), "etc/conf: Permission denied");
  EXPECT_EQ(refusal_of(kMatching, "f", "held back").as(kWriting).text(), "held back");
}
