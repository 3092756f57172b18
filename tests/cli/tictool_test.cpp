// tictool through the real binary: its command line, the sample product, and
// one line and status 1 for every input it cannot build from.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/run.h"
#include "support/temp_dir.h"
#include "tic/tic.h"

namespace {

const std::string kSample = SAMPLE_DIR;
const std::string kRelative = "entry names are relative to the install directory\n";

RunOptions in(const std::string& dir) {
  RunOptions options;
  options.cwd = dir;
  return options;
}

void expect_result(const RunResult& r, int status, const std::string& out = "", const std::string& err = "") {
  EXPECT_EQ(r.status, status);
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.err, err);
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

TEST(TictoolBuild, TheSampleProductBuildsIntoASetThatKestrelReads) {
  TempDir dir;
  const RunOptions here = in(dir.path());
  expect_result(run_tictool({"build", "-C", kSample + "/tree", kSample + "/server.list", "server.tic", "#server.ctl",
                             "bin/tarnserve", "etc", "lib", "share/doc/README", "share/doc/server.txt"}, here), 0);
  expect_result(run_tictool({"build", "-a", "-v", "-p", "nimbrel_core", "-C", kSample + "/tree",
                             kSample + "/client.list", "client.tic", "#client.ctl", "bin/tarnsql",
                             "share/doc/client.txt"}, here),
                0, "Compressing #client.ctl\nCompressing bin/tarnsql\nCompressing share/doc/client.txt\n");
  expect_result(run_kestrel({"validate", "server.tic", "client.tic"}, here), 0);
  expect_result(run_kestrel({"list", "-o", "*", "server.tic", "client.tic"}, here), 0,
                "#client.ctl\n#server.ctl\nbin/tarnserve\nbin/tarnsql\netc/tarnserve.conf\nlib/libtarn.so\n"
                "lib/libtarn.so.1\nshare/doc/README\nshare/doc/client.txt\nshare/doc/server.txt\n");
  expect_result(run_kestrel({"options", "server.tic", "client.tic"}, here), 0, "client 15 docs 15 server 15 \n");
  // Alone, the client archive lists the library without its data (-a).
  expect_result(run_kestrel({"options", "client.tic"}, here), 0, "client 11 docs 15 server 11 \n");
  expect_result(run_kestrel({"version", "MODULE", "client.tic"}, here), 0, "nimbrel\n");

  // -k 1 keeps the last element of a directory given from elsewhere.
  expect_result(run_tictool({"build", "--no-key", "-k", "1", kSample + "/server.list", "plain.tic",
                             kSample + "/tree/etc"}, here), 0);
  expect_result(run_kestrel({"list", "-o", "server", "plain.tic"}, here), 0, "etc/tarnserve.conf\n");
  EXPECT_EQ(Tic((dir / "plain.tic").c_str(), false, nullptr, 0).validate(), 0) << "no key";
}

TEST(TictoolBuild, EveryBadInputGivesOneLineStatusOneAndNoArchive) {
  TempDir dir;
  write_file(dir / "tree/a", "a");
  write_file(dir / "tree/extra", "not listed");
  write_file(dir / "list", "a;x;;0;0;0\n");
  write_file(dir / "bad.list", "a;x;;0;0;0\nbin/tool;client;;1;2\n");
  mkdir((dir / "listdir").c_str(), 0755);
  const struct { std::vector<std::string> args; std::string err; } cases[] = {
      {{"missing.list", "out.tic", "a"}, "tictool: cannot read list file missing.list: No such file or directory\n"},
      {{"listdir", "out.tic", "a"}, "tictool: cannot read list file listdir: Is a directory\n"},
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
    SCOPED_TRACE(c.err);
    std::vector<std::string> args{"build", "-C", "tree"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    expect_result(run_tictool(args, in(dir.path())), c.err.empty() ? 0 : 1, "", c.err);
    EXPECT_EQ(file_exists(dir / "out.tic"), c.err.empty());
  }
}

}  // namespace
