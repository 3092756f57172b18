// The progress line and the mode letters of the install log.
#include <gtest/gtest.h>

#include <memory>

#include "cli/progress.h"

namespace {

// Runs |show| with a reporter of |total| and returns everything printed,
// the reporter's closing line included.
template <typename Show>
std::string printed(unsigned long long total, Show show) {
  testing::internal::CaptureStdout();
  {
    a_progress_reporter reporter;
    reporter.total = total;
    show(reporter);
  }
  return testing::internal::GetCapturedStdout();
}

TEST(ProgressLine, ShowsRunningPercentagesAndBlanksTheLastLine) {
  std::string out = printed(100, [](a_progress_reporter& r) {
    r.display_progress("bin/a", 10);
    r.display_progress("lib/bb", 30);
    r.display_progress("c", 60);
  });
  EXPECT_EQ(out,
            " 10% bin/a\r"
            " 40% lib/bb\r"
            "100% c     \r"
            "      \n");
}

TEST(ProgressLine, CutsAt79CharactersAndPadsTheNextLine) {
  const std::string long_name(100, 'n');
  std::string out = printed(4, [&](a_progress_reporter& r) {
    r.display_progress(long_name, 1);
    r.display_progress("x", 1);
  });
  const std::string first = " 25% " + std::string(74, 'n');
  const std::string second = " 50% x" + std::string(73, ' ');
  // The closing line covers the last line's own length.
  EXPECT_EQ(out, first + "\r" + second + "\r" + std::string(6, ' ') + "\n");
}

TEST(ProgressLine, ZeroTotalShowsFullAndOverrunShowsMore) {
  EXPECT_EQ(printed(0, [](a_progress_reporter& r) { r.display_progress("e", 0); }), "100% e\r      \n");
  EXPECT_EQ(printed(10, [](a_progress_reporter& r) { r.display_progress("big", 25); }), "250% big\r        \n");
}

TEST(ProgressLine, CountsSizesBeyond4GiB) {
  const unsigned long long five_gib = 5ULL << 30;
  EXPECT_EQ(printed(2 * five_gib, [&](a_progress_reporter& r) { r.display_progress("huge", five_gib); }),
            " 50% huge\r         \n");
}

TEST(ProgressLine, NothingDisplayedPrintsNothing) {
  EXPECT_EQ(printed(100, [](a_progress_reporter&) {}), "");
}

TEST(FileModeText, RendersTypeAndPermissionLetters) {
  EXPECT_STREQ(file_mode_text(0100644), "-rw-r--r--");
  EXPECT_STREQ(file_mode_text(040755), "drwxr-xr-x");
  EXPECT_STREQ(file_mode_text(0104755), "-rwsr-xr-x");
  EXPECT_STREQ(file_mode_text(0102644), "-rw-r-lr--");
  EXPECT_STREQ(file_mode_text(041777), "drwxrwxrwt");
  EXPECT_STREQ(file_mode_text(0120777), "lrwxrwxrwx");
  EXPECT_STREQ(file_mode_text(020600), "lrw-------") << "character devices show as l";
  EXPECT_STREQ(file_mode_text(0140755), "srwxr-xr-x");
  EXPECT_STREQ(file_mode_text(010644), "-rw-r--r--") << "other types show as -";
  EXPECT_STREQ(file_mode_text(0107644), "-rwSr-lr-T");
  EXPECT_STREQ(file_mode_text(0106711), "-rws--s--x");
}

TEST(InstallLog, KestrelTicWritesOneLinePerFileAndDrivesTheReporter) {
  std::unique_ptr<FILE, int (*)(FILE*)> log(tmpfile(), fclose);
  KestrelTic set({}, true, nullptr, 0);
  set.log_stream = log.get();
  testing::internal::CaptureStdout();
  {
    a_progress_reporter reporter;
    reporter.total = 8ULL << 30;
    set.progress = &reporter;
    set.extraction_progress("bin/server", 6ULL << 30, 0100755, 0, 0);
    set.progress = nullptr;
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), " 75% bin/server\r               \n");
  rewind(log.get());
  char line[128] = {};
  ASSERT_NE(fgets(line, sizeof line, log.get()), nullptr);
  EXPECT_STREQ(line, "-rwxr-xr-x 6442450944 bin/server\n");
}

}  // namespace
