// tictool through the real binary: its command line, the sample product, and
// one line and status 1 for every input it cannot build from.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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

  // Each command's help, asked either way, and the program's version, which
  // kestrel reads from the same stamp.
  const RunResult dump_help = run_tictool({"dump", "--help"});
  EXPECT_EQ(dump_help.out.rfind("usage: tictool dump [options] <archive> [<archive> ...]\n", 0), 0u);
  expect_result(run_tictool({"help", "DUMP"}), 0, dump_help.out);
  expect_result(run_tictool({"help", "build"}), 0, help.out);
  expect_result(run_tictool({"help"}), 0, main_help.out);
  expect_result(run_tictool({"help", "frob"}), 2, "", "tictool: unknown command: frob\n" + main_help.out);
  expect_result(run_tictool({"--version"}), 0, "tictool 17.0.11 build 7254\n");
  expect_result(run_kestrel({"version", "MODULE", TICTOOL_BIN}), 0, "tictool\n");
}

// Long switches take their value joined with "=", short ones joined too.
TEST(TictoolCommandLine, ValuesJoinedToTheirSwitches) {
  TempDir dir;
  write_file(dir / "tree/a", "a");
  write_file(dir / "list", "a;o;;0;0;0\n");
  const RunOptions here{dir.path(), {}, {}};
  expect_result(run_tictool({"build", "--jobs=2", "--directory=tree", "--product=nimbrel", "-j1", "list", "x.tic", "a"},
                            here), 0);
  expect_result(run_kestrel({"version", "MODULE", "x.tic"}, here), 0, "nimbrel\n");
}

// Switches and values that the command line refuses, with the build's
// usage: a switch that takes no value given one, unknown ones, bad numbers
// of jobs and version information.
TEST(TictoolCommandLine, BadSwitchesAndValuesAreUsageErrors) {
  const struct { std::vector<std::string> args; std::string line; } cases[] = {
      {{"--no-key=1"}, "option --no-key takes no value"},
      {{"--frob=1"}, "unknown option: --frob=1"},
      {{"-x"}, "unknown option: -x"},
      {{"--jobs="}, "not a number of jobs from 1 to 1024: "},
      {{"-j", "0"}, "not a number of jobs from 1 to 1024: 0"},
      {{"--jobs", "2x"}, "not a number of jobs from 1 to 1024: 2x"},
      {{"-j1025"}, "not a number of jobs from 1 to 1024: 1025"},
      {{"--version-info", "RELEASE"}, "--version-info RELEASE: not KEY=VALUE"},
      {{"--version-info", "=gold"}, "--version-info =gold: empty key"},
      {{"--version-info", "RELEASE=a=b"}, "--version-info RELEASE=a=b: \"=\" in the value"},
      {{"--version-info", "version_major=256"}, "--version-info version_major=256: not a number from 0 to 255"},
      {{"--version-info", "VERSION_PATCH=07"}, "--version-info VERSION_PATCH=07: not a number from 0 to 255"},
      {{"--version-info", "BUILD_NUMBER=4294967296"},
       "--version-info BUILD_NUMBER=4294967296: not a number from 0 to 4294967295"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"build"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {"list", "out.tic", "."});
    const RunResult r = run_tictool(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "tictool: " + c.line);
  }
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
  // What server.list names outside etc and lib is left out, a line each.
  std::string left_out;
  for (const char* name : {"#server.ctl", "bin/tarnserve", "share/doc/README", "share/doc/server.txt"}) {
    left_out += std::string("tictool: warning: ") + name + ": listed in " + kSample +
                "/server.list but not found by the scan; left out (-a keeps a record without data)\n";
  }
  expect_result(run_tictool({"build", "--no-key", "-k", "1", kSample + "/server.list", "server.tic",
                             kSample + "/tree/etc", kSample + "/tree/lib"}, here), 0, "", left_out);
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
  write_file(dir / "list", "a;x;;0;0;0\n");
  const struct { std::vector<std::string> args; std::string err; } cases[] = {
      {{"missing.list", "out.tic", "a"}, "tictool: cannot read list file missing.list: No such file or directory\n"},
      {{"tree", "out.tic", "a"}, "tictool: cannot read list file tree: Is a directory\n"},
      {{"list", "out.tic", "a", "../tree/a"}, "tictool: ../tree/a: \"..\" in path; " + kRelative},
      {{"list", "no/dir/x.tic", "a"}, "tictool: cannot write archive no/dir/x.tic: No such file or directory\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"build", "-C", "tree"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    expect_result(run_tictool(args, {dir.path(), {}, {}}), 1, "", c.err);
    EXPECT_FALSE(file_exists(dir / "out.tic")) << c.err;
  }
}

// Every problem of the tree shows in one run, one line each in path order,
// after the command line's own; nothing is written and an earlier archive
// of the name is gone.
TEST(TictoolBuild, EveryProblemOfTheTreeIsReportedInOneRun) {
  TempDir dir;
  write_file(dir / "tree/a", "a");
  write_file(dir / "tree/x", "x");
  write_file(dir / "tree/y", "y");
  ASSERT_EQ(mkfifo((dir / "tree/fifo").c_str(), 0644), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(mknod((dir / "tree/dev").c_str(), S_IFCHR | 0644, makedev(1, 3)), 0);
  }
  write_file(dir / "list", "a;o;;0;0;0\n");
  write_file(dir / "out.tic", "an earlier build");
  const std::string kinds = "; only regular files, directories and symbolic links can be archived\n";
  expect_result(run_tictool({"build", "-C", "tree", "list", "out.tic", ".", "/abs", "nothere"}, {dir.path(), {}, {}}),
                1, "",
                "tictool: /abs: absolute path; " + kRelative +
                    (root ? "tictool: dev: a character device" + kinds : "") + "tictool: fifo: a FIFO" + kinds +
                    "tictool: nothere: No such file or directory\nFile not in toc: x\nFile not in toc: y\n");
  EXPECT_FALSE(file_exists(dir / "out.tic"));
  if (!root) GTEST_SKIP() << "the device case needs root for mknod";
}

// The list file's lines as tictool reports them: the reader's own message
// for a refused line, then where it is and what is wrong, every bad line of
// one file in one run; a line taken with something that was probably not
// meant gets a warning per thing.
TEST(TictoolBuild, ListFileLinesAreNamedByFileAndLine) {
  TempDir dir;
  const RunOptions here{dir.path(), {}, {}};
  write_file(dir / "list", "a;o;;0;0;0\nb;o\na;p;;0;0;0;x\n");
  expect_result(run_tictool({"build", "list", "x.tic", "a"}, here), 1, "",
                "load: invalid entry found: b\ntictool: list:2: expected 6 fields separated by ';', found 2\n"
                "load: duplicate file found: a\ntictool: list:3: \"a\" is listed on an earlier line\n"
                "tictool: cannot load list file list\n");
  write_file(dir / "a", "a");
  write_file(dir / "list", "b;o;;0;0;0\na;o;;zz;0;0;extra\n");
  expect_result(run_tictool({"build", "-a", "list", "x.tic", "a"}, here), 0, "",
                "tictool: list:2: warning: 7 fields; what follows the sixth is ignored\n"
                "tictool: list:2: warning: field 4 (aux_a) \"zz\" is not a number; it is read as 0\n");
}

// A directory whose name ends in "." below a scanned tree is passed over
// with a line saying so; named as a path it is scanned.
TEST(TictoolBuild, ADirectoryEndingInADotIsSkippedWithAWarning) {
  TempDir dir;
  write_file(dir / "tree/repo/apache./pom", "p");
  write_file(dir / "tree/repo/apache./sub./deeper", "d");
  write_file(dir / "tree/top", "t");
  write_file(dir / "list", "top;o;;0;0;0\nrepo/apache./pom;o;;0;0;0\nrepo/apache./sub./deeper;o;;0;0;0\n");
  const RunOptions here{dir.path(), {}, {}};
  expect_result(run_tictool({"build", "-a", "-C", "tree", "list", "one.tic", "."}, here), 0, "",
                "tictool: warning: repo/apache.: directory not scanned, as its name ends in \".\"; name it as a "
                "path to include it\n");
  expect_result(run_tictool({"build", "-a", "-C", "tree", "list", "two.tic", ".", "repo/apache."}, here), 0, "",
                "tictool: warning: repo/apache.: directory not scanned, as its name ends in \".\"; name it as a "
                "path to include it\n"
                "tictool: warning: repo/apache./sub.: directory not scanned, as its name ends in \".\"; name it "
                "as a path to include it\n");
  expect_result(run_kestrel({"list", "-o", "o", "two.tic"}, here), 0, "repo/apache./pom\ntop\n");
}

TEST(TictoolBuild, MoreThan32OptionsAreRefusedNamingEachOneBeyond) {
  TempDir dir;
  std::string list;
  for (int i = 0; i < 34; ++i) list += "f" + std::to_string(i) + ";o" + std::to_string(i) + ";;0;0;0\n";
  write_file(dir / "list", list);
  write_file(dir / "tree/f0", "");
  expect_result(run_tictool({"build", "-C", "tree", "list", "out.tic", "f0"}, {dir.path(), {}, {}}), 1, "",
                "tictool: list: option o32 is number 32; an archive holds at most 32 options (it would share its "
                "bit with o0)\n"
                "tictool: list: option o33 is number 33; an archive holds at most 32 options (it would share its "
                "bit with o1)\n");
  EXPECT_FALSE(file_exists(dir / "out.tic"));
}

// Two builds of one tree at different times, one file at a time and four,
// give the same bytes: no file time is later than SOURCE_DATE_EPOCH, no
// access or change time is stored, and the stamp says the epoch in UTC. A
// stream larger than what waits in memory goes through a temporary file. A
// listed empty directory is stored; an unlisted one only scanned.
TEST(TictoolBuild, TheSameTreeGivesTheSameBytesWhateverTheTimeAndTheJobs) {
  TempDir dir;
  std::string noise;
  for (unsigned s = 7; noise.size() < 1500000;) noise += static_cast<char>((s = s * 1103515245u + 12345u) >> 23);
  write_file(dir / "tree/big", noise);
  for (int i = 0; i < 12; ++i) write_file(dir / ("tree/small/" + std::to_string(i)), std::string(i * 100, 'x'));
  ASSERT_EQ(symlink("big", (dir / "tree/link").c_str()), 0);
  ASSERT_EQ(mkdir((dir / "tree/var").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir / "tree/var/empty").c_str(), 0750), 0);
  std::string list = "big;o;;0;0;0\nlink;o;;0;0;0\nvar/empty;o;;0;0;0\n";
  for (int i = 0; i < 12; ++i) list += "small/" + std::to_string(i) + ";o;;0;0;0\n";
  write_file(dir / "list", list);

  const RunOptions epoch{dir.path(), {"SOURCE_DATE_EPOCH=1700000000"}, {}};
  const std::vector<std::string> info{"--version-info", "BUILD_NUMBER=8100", "--version-info", "release=gold"};
  auto build = [&](const std::string& jobs, const std::string& archive) {
    std::vector<std::string> args{"build", "-j" + jobs};
    args.insert(args.end(), info.begin(), info.end());
    args.insert(args.end(), {"-C", "tree", "list", archive, "."});
    expect_result(run_tictool(args, epoch), 0);
  };
  build("1", "one.tic");
  sleep(1);
  // New modification, access and change times on every file.
  ASSERT_EQ(system(("touch '" + dir.path() + "'/tree/big '" + dir.path() + "'/tree/small/*").c_str()), 0);
  ASSERT_EQ(system(("cat '" + dir.path() + "'/tree/big > /dev/null").c_str()), 0);
  build("4", "four.tic");
  EXPECT_TRUE(read_file(dir / "one.tic") == read_file(dir / "four.tic")) << "the two builds differ";

  const RunOptions here{dir.path(), {}, {}};
  const struct { std::string key, value; } stamp[] = {
      {"DATE", "2023/11/14"}, {"TIME", "22:13:20+0000"}, {"BUILD_NUMBER", "8100"}, {"RELEASE", "gold"},
      {"VERSION_MAJOR", "17"}};
  for (const auto& [key, value] : stamp) expect_result(run_kestrel({"version", key, "one.tic"}, here), 0, value + "\n");
  expect_result(run_kestrel({"validate", "one.tic"}, here), 0);
  expect_result(run_kestrel({"list", "-o", "o", "one.tic"}, here), 0,
                "big\nlink\nsmall/0\nsmall/1\nsmall/10\nsmall/11\nsmall/2\nsmall/3\nsmall/4\nsmall/5\nsmall/6\n"
                "small/7\nsmall/8\nsmall/9\nvar/empty\n");
  const RunResult dump = run_tictool({"dump", "one.tic"}, here);
  EXPECT_NE(dump.out.find("  version 17.0.11 build 8100\n"), std::string::npos);
  EXPECT_NE(dump.out.find("  entry var/empty\n    size 0\n    mode drwxr-x---\n"), std::string::npos) << dump.out;
  EXPECT_GT(read_file(dir / "one.tic").size(), 1500000u);
}

}  // namespace
