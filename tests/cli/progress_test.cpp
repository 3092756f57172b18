// The progress line and the mode letters of the install log.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "cli/progress.h"

namespace {

// Runs |show| with a reporter of |total| and returns everything printed, the
// reporter's closing line included.
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

TEST(ProgressLine, CutAt79PaddedToThePreviousWidthAndPercentagesOfAnyTotal) {
  EXPECT_EQ(printed(4, [](auto& r) { r.display_progress(std::string(100, 'n'), 1); r.display_progress("x", 1); }),
            " 25% " + std::string(74, 'n') + "\r 50% x" + std::string(73, ' ') + "\r" + std::string(6, ' ') + "\n");
  EXPECT_EQ(printed(0, [](auto& r) { r.display_progress("e", 0); }), "100% e\r      \n");
  EXPECT_EQ(printed(10, [](auto& r) { r.display_progress("big", 25); }), "250% big\r        \n");
  EXPECT_EQ(printed(10ULL << 30, [](auto& r) { r.display_progress("huge", 5ULL << 30); }), " 50% huge\r         \n");
}

TEST(FileModeText, RendersTypeAndPermissionLetters) {
  const std::pair<unsigned long, const char*> cases[] = {
      {0100644, "-rw-r--r--"}, {040755, "drwxr-xr-x"}, {0104755, "-rwsr-xr-x"}, {0102644, "-rw-r-lr--"},
      {041777, "drwxrwxrwt"}, {0120777, "lrwxrwxrwx"}, {020600, "lrw-------"}, {0140755, "srwxr-xr-x"},
      {010644, "-rw-r--r--"}, {0107644, "-rwSr-lr-T"}, {0106711, "-rws--s--x"}};
  for (const auto& [mode, text] : cases) EXPECT_STREQ(file_mode_text(mode), text) << std::oct << mode;
}

// The log shares standard output here, so its line follows the progress line.
TEST(InstallLog, KestrelTicFeedsTheReporterAndTheLogWith64BitSizes) {
  KestrelTic set({}, true, nullptr, 0);
  set.log_stream = stdout;
  EXPECT_EQ(printed(8ULL << 30, [&](a_progress_reporter& r) {
              set.progress = &r;
              set.extraction_progress("bin/server", 6ULL << 30, 0100755, 0, 0);
              set.progress = nullptr;
            }),
            " 75% bin/server\r-rwxr-xr-x 6442450944 bin/server\n               \n");
}

}  // namespace
