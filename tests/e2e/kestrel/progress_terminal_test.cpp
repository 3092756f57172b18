// install's progress line on a terminal: the real binary under a
// pseudo-terminal writes the bytes it writes into a pipe, whatever the
// terminal's width.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <cerrno>
#include <string>
#include <vector>

#include "support/run.h"
#include "support/temp_dir.h"

namespace {

// Runs |argv| in |cwd| with standard input, output and error on a new
// pseudo-terminal of |columns| columns as the child's controlling terminal.
// The terminal is raw, so that what the program wrote arrives unchanged
// ("\n" not turned into "\r\n"). |out| is every byte it received.
RunResult run_on_terminal(const std::string& executable, const std::vector<std::string>& argv, const std::string& cwd,
                          unsigned short columns) {
  RunResult result;
  struct winsize size = {};
  size.ws_row = 24;
  size.ws_col = columns;
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) return result;
  struct termios mode;
  tcgetattr(slave, &mode);
  cfmakeraw(&mode);
  tcsetattr(slave, TCSANOW, &mode);

  std::vector<char*> child_argv;
  for (const std::string& a : argv) child_argv.push_back(const_cast<char*>(a.c_str()));
  child_argv.push_back(nullptr);
  const std::string state = "KESTREL_STATE_DIR=" + kestrel_state_directory();
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(master);
    if (chdir(cwd.c_str()) != 0 || login_tty(slave) != 0) _exit(126);
    putenv(const_cast<char*>(state.c_str()));
    alarm(60);  // a hung command fails the test
    execv(executable.c_str(), child_argv.data());
    _exit(127);
  }
  close(slave);
  // The master reads EIO once the child's last descriptor of the terminal
  // is closed.
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n > 0) {
      result.out.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  close(master);
  int wstatus = 0;
  if (pid > 0) waitpid(pid, &wstatus, 0);
  result.status = pid > 0 && WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  return result;
}

// Files of 10, 30 and 60 bytes: a name that makes the line longer than 79
// bytes, one of two-byte characters cut inside a character, then a short
// one padded to the line before it.
TEST(ProgressOnATerminal, InstallWritesThePipesBytesAtAnyWidth) {
  TempDir dir;
  const std::string long_name = "long/" + std::string(100, 'n');
  std::string wide_name = "w";
  for (int i = 0; i < 50; ++i) wide_name += "\xc3\xa9";  // U+00E9, two bytes each
  write_file(dir / ("src/" + long_name), std::string(10, 'l'));
  write_file(dir / ("src/" + wide_name), std::string(30, 'w'));
  write_file(dir / "src/z", std::string(60, 'z'));
  write_file(dir / "p.list", long_name + ";o;;0;0;0\n" + wide_name + ";o;;0;0;0\nz;o;;0;0;0\n");
  ASSERT_EQ(run_tictool({"build", "-C", dir / "src", dir / "p.list", dir / "p.tic", long_name, wide_name, "z"}).err,
            "");
  write_file(dir / "inst/.keep", "");

  const std::vector<std::string> install{"kestrel", "install", "-d", "inst", "-o", "o", "../p.tic"};
  const RunResult piped = run_program(KESTREL_BIN, install, {dir.path(), {}, {}});
  ASSERT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.err, "");
  // 5 bytes of percentage, then 74 of the name: the wide name loses the
  // second byte of its 37th character.
  const std::string expected = " 10% " + long_name.substr(0, 74) + "\r 40% " + wide_name.substr(0, 74) + "\r100% z" +
                               std::string(73, ' ') + "\r" + std::string(6, ' ') + "\n";
  EXPECT_EQ(piped.out, expected);

  for (const unsigned short columns : {200, 60}) {
    // The terminal is what the program sees: stty asks it for its size.
    const RunResult stty = run_on_terminal("/bin/stty", {"stty", "size"}, dir.path(), columns);
    EXPECT_EQ(stty.out, "24 " + std::to_string(columns) + "\n");
    const RunResult shown = run_on_terminal(KESTREL_BIN, install, dir.path(), columns);
    EXPECT_EQ(shown.status, 0) << columns;
    EXPECT_EQ(shown.out, piped.out) << columns << " columns";
  }
}

}  // namespace
