// The progress line and the mode letters of the install log, past what the
// install tests show end to end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

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

// What the reporter draws on a terminal of |columns| columns: standard
// output is a raw pseudo-terminal for the while.
std::string drawn_on_terminal(unsigned short columns, const std::vector<std::pair<std::string, unsigned long long>>& files) {
  struct winsize size = {};
  size.ws_col = columns;
  size.ws_row = 24;
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) return "no pseudo-terminal";
  struct termios mode;
  tcgetattr(slave, &mode);
  cfmakeraw(&mode);
  tcsetattr(slave, TCSANOW, &mode);
  fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  dup2(slave, STDOUT_FILENO);
  {
    a_progress_reporter reporter;
    reporter.total = 100;
    for (const auto& [name, bytes] : files) reporter.display_progress(name, bytes);
  }
  fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(slave);
  fcntl(master, F_SETFL, O_NONBLOCK);
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
  close(master);
  return out;
}

// A terminal gets lines one column short of its width, never a split
// character; the width is asked for each line.
TEST(ProgressLine, OnATerminalFitsItsWidth) {
  EXPECT_EQ(drawn_on_terminal(40, {{std::string(60, 'n'), 50}, {"x", 50}}),
            " 50% " + std::string(34, 'n') + "\r100% x" + std::string(33, ' ') + "\r      \n");
  EXPECT_EQ(drawn_on_terminal(10, {{"a\xc3\xa9\xc3\xa9", 100}}), "100% a\xc3\xa9\r        \n");
  EXPECT_EQ(drawn_on_terminal(200, {{std::string(100, 'n'), 100}}),
            "100% " + std::string(100, 'n') + "\r" + std::string(105, ' ') + "\n");
  const std::pair<int, int> limits[] = {{0, 79}, {1, 79}, {2, 1}, {80, 79}, {132, 131}};
  for (const auto& [columns, limit] : limits) EXPECT_EQ(progress_line_limit(columns), limit) << columns;
}

TEST(FileModeText, RendersTypeAndPermissionLetters) {
  const std::pair<unsigned long, const char*> cases[] = {
      {0104755, "-rwsr-xr-x"}, {0102644, "-rw-r-lr--"}, {041777, "drwxrwxrwt"}, {020600, "lrw-------"},
      {0140755, "srwxr-xr-x"}, {010644, "-rw-r--r--"}, {0107644, "-rwSr-lr-T"}, {0106711, "-rws--s--x"}};
  for (const auto& [mode, text] : cases) EXPECT_STREQ(file_mode_text(mode), text) << std::oct << mode;
}

}  // namespace
