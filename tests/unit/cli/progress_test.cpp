// The progress line and the mode letters of the install log, past what the
// install tests show end to end.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cli/printed_events.h"
#include "display/progress.h"
#include "install/installing_set.h"
#include "support/temp_dir.h"

namespace {

// Everything the install set prints with a reporter of |total| for |files|
// (name and size, mode 0100755), the closing line included; with |log| the
// install log's lines go there.
std::string shown(unsigned long long total, const std::vector<std::pair<std::string, unsigned long long>>& files,
                  std::string* log = nullptr) {
  TempDir dir;
  testing::internal::CaptureStdout();
  {
    PrintedEvents events("install", true);
    InstallLog install_log;
    if (log != nullptr) {
      EXPECT_TRUE(install_log.open(AT_FDCWD, dir / "log").ok());
    }
    InstallingSet set({}, nullptr, 0, events, install_log);
    events.begin(total);
    for (const auto& [name, size] : files) set.extraction_progress(name, size, 0100755, 0, 0);
    events.end();
  }
  if (log != nullptr) *log = read_file(dir / "log");
  return testing::internal::GetCapturedStdout();
}

TEST(ProgressLine, CutAt79PaddedToThePreviousWidthWithPercentagesOfAnyTotalAnd64BitSizes) {
  EXPECT_EQ(shown(4, {{std::string(100, 'n'), 1}, {"x", 1}, {"big", 8}}),
            " 25% " + std::string(74, 'n') + "\r 50% x" + std::string(73, ' ') + "\r250% big\r        \n");
  EXPECT_EQ(shown(0, {{"e", 0}}), "100% e\r      \n");
  std::string log;
  EXPECT_EQ(shown(8ULL << 30, {{"bin/server", 6ULL << 30}}, &log), " 75% bin/server\r               \n");
  EXPECT_EQ(log, "-rwxr-xr-x 6442450944 bin/server\n");
}

TEST(FileModeText, RendersTypeAndPermissionLetters) {
  const std::pair<unsigned long, const char*> cases[] = {
      {0104755, "-rwsr-xr-x"}, {0102644, "-rw-r-lr--"}, {041777, "drwxrwxrwt"}, {020600, "lrw-------"},
      {0140755, "srwxr-xr-x"}, {010644, "-rw-r--r--"}, {0107644, "-rwSr-lr-T"}, {0106711, "-rws--s--x"}};
  for (const auto& [mode, text] : cases) EXPECT_STREQ(file_mode_text(mode), text) << std::oct << mode;
}

}  // namespace
