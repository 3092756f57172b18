// Runs a program as a child process and captures what it leaves behind.
#pragma once

#include <string>
#include <vector>

struct RunResult {
  int status = -1;  // exit status, or -1 when the child did not exit normally (killed, timed out)
  std::string out;
  std::string err;
};

struct RunOptions {
  std::string cwd;                     // empty: the test's own directory
  std::vector<std::string> extra_env;  // NAME=VALUE pairs added to the environment
  std::vector<std::string> unset_env;  // names removed from the environment
  unsigned timeout_seconds = 60;       // the child is killed after this long
  unsigned kill_after_ms = 0;          // when not 0: SIGKILL after this many milliseconds
  int user = -1;                       // when 0 or more: the child runs as this user and group id
};

// Runs |executable| with |argv| as its complete argument vector (argv[0]
// included) and waits for it.
RunResult run_program(const std::string& executable, const std::vector<std::string>& argv,
                      const RunOptions& options = {});

// Runs the tictool binary under test: argv[0] is "tictool", then |args|.
RunResult run_tictool(const std::vector<std::string>& args, const RunOptions& options = {});

// The state directory every program the tests run gets in
// KESTREL_STATE_DIR, unless a test names another in extra_env (or removes
// it with unset_env): a temporary directory of the test process.
std::string kestrel_state_directory();

// Runs the kestrel binary under test: argv[0] is "kestrel", then |args|.
RunResult run_kestrel(const std::vector<std::string>& args, const RunOptions& options = {});

// Builds the sample product into |directory| as the set of two archives
// that sample/README describes, server.tic and client.tic; true when both
// were built.
bool build_sample_set(const std::string& directory);
