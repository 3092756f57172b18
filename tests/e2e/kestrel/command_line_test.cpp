// The command line through the real binary: choice of command, leading
// switches, usage texts.
#include <gtest/gtest.h>

#include <tuple>

#include "support/archive_writer.h"
#include "support/run.h"
#include "support/temp_dir.h"

namespace {

const std::string kBannerLine = "Tarnvale Install Utility Version 17.0.11.7254\n";
const std::string kGeneralUsage = kBannerLine + "usage: kestrel <command> [options] [args [...]]\n";
const std::string kInstallUsage =
    kBannerLine + "usage: install [-l <log>] [-b <backup_dir>] [-d <install_dir>] [-o <options>] <tic> [<tic> [...]]\n";

// t.tic holds "f" with data and "g" without, both of option "a", so what list
// prints shows how its switches were read. A word taken as an archive name
// sorts before t.tic and cannot be read: the output is then empty, and the
// word is named on standard error.
std::string unreadable(const std::string& archive) {
  return "kestrel: list: " + archive + ": No such file or directory\n";
}

TEST(CommandLine, CommandWordsAndLeadingSwitches) {
  TempDir dir;
  TicToc toc;
  toc.file_map["f"] = make_entry(toc.options.option_mask("a"), 0, 1);
  toc.file_map["g"] = make_entry(toc.options.option_mask("a"));
  write_test_archive(dir / "t.tic", toc, true, {{"f", "F"}});
  const struct { std::vector<std::string> args; int status; std::string out, err; } cases[] = {
      {{"lists", "-o", "a", "t.tic"}, 0, "", kGeneralUsage},  // no prefixes of command words
      {{"--version", "list"}, 0, "kestrel 17.0.11 build 7254\n", ""},  // the program's own stamp
      {{"--VERSION"}, 0, "", kGeneralUsage},
      {{"list", "--version"}, 0, "", unreadable("--version")},  // only before the command word
      {{"INSTALL"}, 255, "", kInstallUsage},
      {{"install", "-l"}, 255, "", kInstallUsage},  // the switch is consumed without a value
      {{"LiSt", "-a", "-o", "a", "t.tic"}, 0, "f\ng\n", ""},
      {{"list", "--directory", "x", "--options", "a", "--all", "t.tic"}, 0, "f\ng\n", ""},
      {{"list", "-o", "b", "-o", "a", "t.tic"}, 0, "f\n", ""},  // the later value wins
      {{"list", "-o", "a", "-o", "-a", "t.tic"}, 0, "", ""},     // "-a" is the value, not the all flag
      {{"list", "-d", "-o", "a", "t.tic"}, 0, "", unreadable("a")},  // -o is the directory, "a" an archive
      {{"list", "t.tic", "-o", "a"}, 0, "", unreadable("-o")},       // after the first archive, all positional
      {{"list", "-D", "x", "-o", "a", "t.tic"}, 0, "", unreadable("-D")},  // switch names are case-sensitive
      {{"list", "--options=a", "t.tic"}, 0, "", unreadable("--options=a")},
  };
  for (const auto& c : cases) {
    const RunResult r = run_kestrel(c.args, {dir.path(), {}, {}});
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::tie(c.status, c.out, c.err)) << testing::PrintToString(c.args);
  }
}

TEST(CommandLine, GeneralUsageShowsTheNameAsInvoked) {
  const RunResult r = run_program(KESTREL_BIN, {"/opt/tarnvale/bin/kestrel"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kBannerLine + "usage: /opt/tarnvale/bin/kestrel <command> [options] [args [...]]\n");
}

}  // namespace
