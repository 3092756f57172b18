// kestrel's bash completion, run in bash with bash-completion as the shell
// runs it: COMP_WORDS, COMP_CWORD, COMP_LINE and COMP_POINT of a command
// line, the completion function, and what it offers. The kestrel it asks is
// the one under test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/run.h"
#include "support/temp_dir.h"

namespace {

const char kBashCompletion[] = "/usr/share/bash-completion/bash_completion";

// Sets the completion variables for the line $2, whose "^" marks the cursor
// (its end when there is none), as bash sets them: the words split at
// blanks, the word under the cursor current, an empty current word when
// the cursor follows a blank at the end. Then runs _kestrel and prints
// COMPREPLY sorted, one per line.
const char kHarness[] = R"SH(
source /usr/share/bash-completion/bash_completion || exit 2
source "$1"
line=$2
before=${line%%^*}
after=""
[[ $line == *^* ]] && after=${line#*^}
COMP_LINE=$before$after
COMP_POINT=${#before}
read -r -a left <<<"$before"
read -r -a right <<<"$after"
if [[ -z $before || $before == *" " ]]; then
  COMP_WORDS=("${left[@]}" "${right[@]}")
  COMP_CWORD=${#left[@]}
  ((${#right[@]})) || COMP_WORDS+=("")
elif [[ -n $after && $after != " "* ]]; then
  COMP_WORDS=("${left[@]:0:${#left[@]}-1}" "${left[-1]}${right[0]}" "${right[@]:1}")
  COMP_CWORD=$((${#left[@]} - 1))
else
  COMP_WORDS=("${left[@]}" "${right[@]}")
  COMP_CWORD=$((${#left[@]} - 1))
fi
COMPREPLY=()
_kestrel 2>/dev/null
((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort
exit 0
)SH";

TEST(Completion, OffersWhatKestrelTakesWhereItTakesIt) {
  ASSERT_TRUE(file_exists(kBashCompletion)) << "bash-completion is needed (scripts/deps.sh installs it)";
  TempDir dir;
  ASSERT_TRUE(build_sample_set(dir.path()));
  write_file(dir / "inst/.keep", "");
  write_file(dir / "notes.txt", "");
  // The archives seen from the install directory "inst" as ../<name>, and
  // a file named like the star that must not be globbed into the offer.
  write_file(dir / "harness.sh", kHarness);
  write_file(dir / "bin/.keep", "");
  ASSERT_EQ(symlink(KESTREL_BIN, (dir / "bin/kestrel").c_str()), 0);
  const char* path = getenv("PATH");
  const RunOptions here{dir.path(), {"PATH=" + dir.path() + "/bin:" + (path ? path : "/usr/bin:/bin")}, {}};

  const std::string commands =
      "--version\ninstall\nlist\noptions\nremove\nrestore\nspace\nstatus\nupgrade\nvalidate\nverify\nversion\n";
  const std::string names = "*\nclient\ndocs\nserver\n";
  const struct {
    const char* line;
    std::string offered;
  } cases[] = {
      {"kestrel ", commands},
      {"kestrel ver", "verify\nversion\n"},
      // Switches, -h only as the one word after the command.
      {"kestrel install -", "--backup\n--directory\n--help\n--log\n--options\n--quiet\n-b\n-d\n-h\n-l\n-o\n-q\n"},
      {"kestrel install -q -", "--backup\n--directory\n--help\n--log\n--options\n--quiet\n-b\n-d\n-l\n-o\n-q\n"},
      {"kestrel list --", "--all\n--directory\n--help\n--json\n--options\n"},
      {"kestrel validate -", "--help\n-h\n"},
      {"kestrel restore ", "--backup\n--directory\n--help\n-b\n-d\n-h\n"},
      {"kestrel status -d inst --", "--all\n--directory\n--files\n--help\n--json\n--owner\n"},
      // Values: directories, files, option names of the archives on the
      // line (after the cursor too, and seen from the install directory
      // where install looks for them), "*" as it is.
      {"kestrel install -d ", "bin\ninst\n"},
      {"kestrel install -l no", "notes.txt\n"},
      {"kestrel list -o ^ server.tic client.tic", names},
      {"kestrel list -o se^ server.tic", "server\n"},
      {"kestrel list -o 'server|d^ client.tic", "server|docs\n"},
      {"kestrel install -d inst -o ^ ../client.tic", names},
      // Nothing without archives to ask (no lone "*" to insert), nor for a
      // text that no name completes.
      {"kestrel list -o ", ""},
      {"kestrel install -d inst -o ", ""},
      {"kestrel install -d inst -o ^ -q", ""},
      {"kestrel list -o ^ missing.tic", ""},
      {"kestrel list -o c^ missing.tic", ""},
      {"kestrel list -o '*^ server.tic", ""},
      // Archive names; no switch after the first one.
      {"kestrel list -o '*' ", "bin\nclient.tic\ninst\nserver.tic\n"},
      {"kestrel list -o '*' server.tic -", ""},
      {"kestrel install -d inst -o '*' ../s", "../server.tic\n"},
      // version: the stamp keys in any case, then any file.
      {"kestrel version mod", "MODULE\n"},
      {"kestrel version build", "BUILD_NUMBER\n"},
      {"kestrel version MODULE no", "notes.txt\n"},
      {"kestrel status --owner no", "notes.txt\n"},
      {"kestrel frob ", ""},
  };
  for (const auto& c : cases) {
    const RunResult r = run_program("/bin/bash", {"bash", "--norc", "--noprofile", dir / "harness.sh",
                                                  std::string(COMPLETION_DIR) + "/kestrel", c.line}, here);
    EXPECT_EQ(r.status, 0) << c.line << "\n" << r.err;
    EXPECT_EQ(r.out, c.offered) << c.line;
  }
}

}  // namespace
