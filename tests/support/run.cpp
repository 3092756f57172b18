#include "support/run.h"

#include <grp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "platform/unique.h"

namespace {

std::string slurp(FILE* f) {
  std::string text;
  rewind(f);
  char buffer[8192];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  return text;
}

struct File {
  Unique<FILE, fclose> owned{tmpfile()};
  FILE* f = owned.get();
};

// kestrel keeps the records of installations in a state directory; unless
// a test names its own, every run of the test process shares one temporary
// directory, removed when the process ends, so that no test writes to the
// machine's own (/var/lib/kestrel for root).
class TestStateDirectory {
 public:
  TestStateDirectory() {
    char pattern[] = "/tmp/kestrel-test-state-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TestStateDirectory() {
    if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

const std::string& test_state_directory() {
  static const TestStateDirectory directory;
  return directory.path();
}

}  // namespace

std::string kestrel_state_directory() { return test_state_directory(); }

RunResult run_program(const std::string& executable, const std::vector<std::string>& argv,
                      const RunOptions& options) {
  File out, err;
  if (!out.f || !err.f) throw std::runtime_error("tmpfile failed");

  std::vector<char*> child_argv;
  for (const std::string& a : argv) child_argv.push_back(const_cast<char*>(a.c_str()));
  child_argv.push_back(nullptr);

  const std::string state = "KESTREL_STATE_DIR=" + test_state_directory();
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    dup2(fileno(out.f), 1);
    dup2(fileno(err.f), 2);
    putenv(const_cast<char*>(state.c_str()));
    for (const std::string& name : options.unset_env) unsetenv(name.c_str());
    for (const std::string& extra : options.extra_env) putenv(const_cast<char*>(extra.c_str()));
    if (options.user >= 0) {
      const auto id = static_cast<uid_t>(options.user);
      if (setgroups(0, nullptr) != 0 || setgid(id) != 0 || setuid(id) != 0) _exit(126);
    }
    // A hung command must fail the test, not stall the suite.
    alarm(options.timeout_seconds);
    execv(executable.c_str(), child_argv.data());
    _exit(127);
  }
  int wstatus = 0;
  if (options.kill_after_ms != 0) {
    usleep(options.kill_after_ms * 1000);
    kill(pid, SIGKILL);
  }
  while (waitpid(pid, &wstatus, 0) < 0) {
  }
  RunResult result;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  result.out = slurp(out.f);
  result.err = slurp(err.f);
  return result;
}

RunResult run_kestrel(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> argv{"kestrel"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(KESTREL_BIN, argv, options);
}

RunResult run_tictool(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> argv{"tictool"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(TICTOOL_BIN, argv, options);
}

bool build_sample_set(const std::string& directory) {
  const std::string sample = SAMPLE_DIR;
  const RunOptions here{directory, {}, {}};
  return run_tictool({"build", "-C", sample + "/tree", sample + "/server.list", "server.tic", "#server.ctl",
                      "bin/tarnserve", "etc", "lib", "share/doc/README", "share/doc/server.txt"}, here).status == 0 &&
         run_tictool({"build", "-a", "-C", sample + "/tree", sample + "/client.list", "client.tic", "#client.ctl",
                      "bin/tarnsql", "share/doc/client.txt"}, here).status == 0;
}
