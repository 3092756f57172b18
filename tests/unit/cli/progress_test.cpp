// The progress line and the mode letters of the install log, past what the
// install tests show end to end.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cli/kestrel_tic.h"

namespace {

// Everything the install set prints with a reporter of |total|, the log on
// |log|, for |files| (name and size, mode 0100755), the closing line included.
std::string shown(unsigned long long total, const std::vector<std::pair<std::string, unsigned long long>>& files,
                  FILE* log = nullptr) {
  testing::internal::CaptureStdout();
  {
    a_progress_reporter reporter;
    reporter.total = total;
    KestrelTic set({}, true, nullptr, 0);
    set.progress = &reporter;
    set.log_stream = log;
    for (const auto& [name, size] : files) set.extraction_progress(name, size, 0100755, 0, 0);
  }
  return testing::internal::GetCapturedStdout();
}

// The log shares standard output in the last case, so its line follows the
// progress line.
TEST(ProgressLine, CutAt79PaddedToThePreviousWidthWithPercentagesOfAnyTotalAnd64BitSizes) {
  EXPECT_EQ(shown(4, {{std::string(100, 'n'), 1}, {"x", 1}, {"big", 8}}),
            " 25% " + std::string(74, 'n') + "\r 50% x" + std::string(73, ' ') + "\r250% big\r        \n");
  EXPECT_EQ(shown(0, {{"e", 0}}), "100% e\r      \n");
  EXPECT_EQ(shown(8ULL << 30, {{"bin/server", 6ULL << 30}}, stdout),
            " 75% bin/server\r-rwxr-xr-x 6442450944 bin/server\n               \n");
}

TEST(FileModeText, RendersTypeAndPermissionLetters) {
  const std::pair<unsigned long, const char*> cases[] = {
      {0104755, "-rwsr-xr-x"}, {0102644, "-rw-r-lr--"}, {041777, "drwxrwxrwt"}, {020600, "lrw-------"},
      {0140755, "srwxr-xr-x"}, {010644, "-rw-r--r--"}, {0107644, "-rwSr-lr-T"}, {0106711, "-rws--s--x"}};
  for (const auto& [mode, text] : cases) EXPECT_STREQ(file_mode_text(mode), text) << std::oct << mode;
}

}  // namespace
