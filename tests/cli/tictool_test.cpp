// tictool through the real binary: its command line, the sample product, and
// one line and status 1 for every input it cannot build from.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/run.h"
#include "support/temp_dir.h"

namespace {

const std::string kSample = SAMPLE_DIR;
const std::string kRelative = "entry names are relative to the install directory\n";

void expect_result(const RunResult& r, int status, const std::string& out = "", const std::string& err = "") {
  EXPECT_EQ(std::tie(r.status, r.out, r.err), std::tie(status, out, err));
}

TEST(TictoolCommandLine, HelpOnStandardOutputAndUsageErrorsWithStatusTwo) {
  const RunResult help = run_tictool({"BUILD", "-v", "--help", "ignored"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: tictool build [options] <list-file> <archive> <path> [<path> ...]\n", 0), 0u);
  expect_result(run_tictool({"build", "-C"}), 2, "", "tictool: option -C needs a value\n" + help.out);
  const RunResult main_help = run_tictool({"--help"});
  EXPECT_EQ(main_help.out.rfind("usage: tictool <command> [options] [args ...]\n", 0), 0u);
  expect_result(run_tictool({"frob"}), 2, "", "tictool: unknown command: frob\n" + main_help.out);
}

// Each switch shows in what kestrel reads back: -a the library listed
// without its data (and without -a no record of files not found), -v the
// names, -p the stamp, -k 1 the kept last element, --no-key a code that the
// product key does not match (install shows that keyed builds pass).
TEST(TictoolBuild, TheSampleProductBuildsIntoASetThatKestrelReads) {
  TempDir dir;
  const RunOptions here{dir.path(), {}, {}};
  expect_result(run_tictool({"build", "-a", "-v", "-p", "nimbrel_core", "-C", kSample + "/tree",
                             kSample + "/client.list", "client.tic", "#client.ctl", "bin/tarnsql",
                             "share/doc/client.txt"}, here),
                0, "Compressing #client.ctl\nCompressing bin/tarnsql\nCompressing share/doc/client.txt\n");
  expect_result(run_tictool({"build", "--no-key", "-k", "1", kSample + "/server.list", "server.tic",
                             kSample + "/tree/etc", kSample + "/tree/lib"}, here), 0);
  expect_result(run_kestrel({"list", "-a", "-o", "*", "server.tic"}, here), 0,
                "etc/tarnserve.conf\nlib/libtarn.so\nlib/libtarn.so.1\n");
  expect_result(run_kestrel({"options", "client.tic"}, here), 0, "client 11 docs 15 server 11 \n");
  expect_result(run_kestrel({"version", "MODULE", "client.tic"}, here), 0, "nimbrel\n");
  expect_result(run_kestrel({"validate", "server.tic"}, here), 255, "",
                "kestrel: validate: server.tic: archive does not match its MAC\n");
}

TEST(TictoolBuild, EveryBadInputGivesOneLineStatusOneAndNoArchive) {
  TempDir dir;
  write_file(dir / "tree/a", "a");
  write_file(dir / "tree/extra", "not listed");
  write_file(dir / "list", "a;x;;0;0;0\n");
  write_file(dir / "bad.list", "a;x;;0;0;0\nbin/tool;client;;1;2\n");
  const struct { std::vector<std::string> args; std::string err; } cases[] = {
      {{"missing.list", "out.tic", "a"}, "tictool: cannot read list file missing.list: No such file or directory\n"},
      {{"tree", "out.tic", "a"}, "tictool: cannot read list file tree: Is a directory\n"},
      {{"bad.list", "out.tic", "a"}, "load: invalid entry found: bin/tool\ntictool: cannot load list file bad.list\n"},
      {{"list", "out.tic", "/etc"}, "tictool: /etc: absolute path; " + kRelative},
      {{"list", "out.tic", "a", "../tree/a"}, "tictool: ../tree/a: \"..\" in path; " + kRelative},
      {{"list", "out.tic", "a", "nothere"}, "tictool: nothere: No such file or directory\n"},
      {{"list", "no/dir/x.tic", "a"}, "tictool: cannot write archive no/dir/x.tic: No such file or directory\n"},
      // A failed build removes what it wrote, an earlier good archive included.
      {{"list", "out.tic", "a"}, ""},
      {{"list", "out.tic", "."}, "File not in toc: extra\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"build", "-C", "tree"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    expect_result(run_tictool(args, {dir.path(), {}, {}}), c.err.empty() ? 0 : 1, "", c.err);
    EXPECT_EQ(file_exists(dir / "out.tic"), c.err.empty()) << c.err;
  }
}

}  // namespace
