// The command line through the real binary: choice of command, leading
// switches, usage texts; every command's --help on standard output, each
// switch it documents taken as a switch, -h only where it cannot have named
// an archive; and install -q draws no progress line.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/archive_writer.h"
#include "support/command_output.h"
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

// The switches a help text lists, each with whether it takes a value.
std::map<std::string, bool> switches_of(const std::string& help) {
  std::map<std::string, bool> switches;
  bool listed = false;
  for (const std::string& line : lines_of(help)) {
    if (line.rfind("Switches", 0) == 0) listed = true;
    if (!listed || line.size() < 4 || line.substr(0, 2) != "  " || line.find_first_not_of(' ') > 6) continue;
    std::istringstream words(line);
    std::vector<std::string> forms;
    bool value = false;
    for (std::string word; words >> word && (word[0] == '-' || word[0] == '<');) {
      if (word[0] == '<') value = true;
      else forms.push_back(word.back() == ',' ? word.substr(0, word.size() - 1) : word);
    }
    for (const std::string& form : forms) switches[form] = value;
  }
  return switches;
}

TEST(CommandHelp, EveryCommandExplainsItselfOnStandardOutput) {
  const RunResult words = run_kestrel({"--commands"});
  ASSERT_EQ(std::tie(words.status, words.err), std::make_tuple(0, std::string()));
  EXPECT_EQ(words.out, "install\nlist\noptions\nspace\nvalidate\nversion\nverify\nremove\nrestore\nstatus\nupgrade\n");

  const std::map<std::string, std::vector<std::string>> documented = {
      {"install", {"--backup", "--directory", "--help", "--log", "--options", "--quiet", "-b", "-d", "-h", "-l", "-o",
                   "-q"}},
      {"list", {"--all", "--directory", "--help", "--json", "--options", "-a", "-d", "-h", "-o"}},
      {"options", {"--directory", "--help", "--json", "-d", "-h"}},
      {"space", {"--directory", "--help", "--options", "-d", "-h", "-o"}},
      {"validate", {"--help", "-h"}},
      {"version", {"--help", "-h"}},
      {"verify", {"--directory", "--help", "--json", "--options", "-d", "-h", "-o"}},
      {"remove", {"--backup", "--directory", "--help", "--options", "--purge", "-b", "-d", "-h", "-o"}},
      {"restore", {"--backup", "--directory", "--help", "-b", "-d", "-h"}},
      {"status", {"--all", "--directory", "--files", "--help", "--json", "--owner", "-d", "-h"}},
      {"upgrade", {"--backup", "--directory", "--dry-run", "--help", "--json", "--log", "--options", "--quiet", "-b",
                   "-d", "-h", "-l", "-o", "-q"}},
  };
  TempDir dir;
  const RunOptions here{dir.path(), {}, {}};
  for (const std::string& word : lines_of(words.out)) {
    const RunResult help = run_kestrel({word, "--help"}, here);
    EXPECT_EQ(std::tie(help.status, help.err), std::make_tuple(0, std::string())) << word;
    EXPECT_EQ(help.out.rfind("usage: kestrel " + word + " ", 0), 0u) << help.out;
    for (const std::string& line : lines_of(help.out)) EXPECT_LE(line.size(), 79u) << line;

    // Asked for in every way, it is the same text: -h alone, the command
    // word in capitals, after the command's switches.
    std::string upper = word;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    EXPECT_EQ(run_kestrel({word, "-h"}, here).out, help.out) << word;
    EXPECT_EQ(run_kestrel({upper, "--help"}, here).out, help.out) << word;

    const std::map<std::string, bool> switches = switches_of(help.out);
    std::vector<std::string> names;
    for (const auto& [name, value] : switches) names.push_back(name);
    EXPECT_EQ(names, documented.at(word)) << help.out;
    // Each switch it documents is one: --help after it is still a switch.
    for (const auto& [name, value] : switches) {
      if (name == "-h" || name == "--help") continue;
      std::vector<std::string> args{word, name};
      if (value) args.push_back("value");
      args.push_back("--help");
      const RunResult after = run_kestrel(args, here);
      EXPECT_EQ(std::tie(after.status, after.out), std::tie(help.status, help.out)) << word << " " << name;
    }
  }
}

// kestrel --help and kestrel help print the general usage on standard
// error as they always did; after the first archive name --help is an
// archive name, and -h is one wherever it was one before.
TEST(CommandHelp, WordsThatNamedArchivesBeforeStillDo) {
  TempDir dir;
  ASSERT_TRUE(build_sample_set(dir.path()));
  const RunOptions here{dir.path(), {}, {}};
  for (const std::vector<std::string>& general : {std::vector<std::string>{"--help"}, {"help"}, {"help", "install"}}) {
    const RunResult r = run_kestrel(general, here);
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(0, std::string(), kGeneralUsage)) << general[0];
  }
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } cases[] = {
      {{"list", "-o", "server", "server.tic", "--help"}, 0, "", "kestrel: list: --help: No such file or directory\n"},
      {{"install", "-h", "server.tic"}, 255, "", "kestrel: install: -h: No such file or directory\n"},
      {{"install", "-o", "server", "-h"}, 255, "", "kestrel: install: -h: No such file or directory\n"},
      {{"version", "MODULE", "-h"}, 255, "", "kestrel: version: -h: No such file or directory\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = run_kestrel(c.args, here);
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::tie(c.status, c.out, c.err)) << c.args[0] << " " << c.args[1];
  }
  // A file named -h in the current directory is what "-h" names.
  write_file(dir / "-h", read_file(dir / "server.tic"));
  const RunResult validated = run_kestrel({"validate", "-h"}, here);
  EXPECT_EQ(std::tie(validated.status, validated.out, validated.err), std::make_tuple(0, std::string(), std::string()));
  EXPECT_EQ(run_kestrel({"space", "-h"}, here).out, "0\n");
}

// -q and --quiet: the files are installed (and upgraded), standard output
// stays empty.
TEST(CommandHelp, QuietInstallDrawsNoProgressLine) {
  TempDir dir;
  ASSERT_TRUE(build_sample_set(dir.path()));
  const RunOptions here{dir.path(), {}, {}};
  for (const char* into : {"drawn", "quiet-q", "quiet--quiet"}) write_file(dir / (std::string(into) + "/.keep"), "");
  const RunResult drawn = run_kestrel({"install", "-d", "drawn", "-o", "*", "../server.tic", "../client.tic"}, here);
  ASSERT_EQ(drawn.status, 0) << drawn.err;
  EXPECT_NE(drawn.out.find("100% "), std::string::npos);
  for (const char* quiet : {"-q", "--quiet"}) {
    const std::string into = std::string("quiet") + quiet;
    const RunResult r = run_kestrel({"install", quiet, "-d", into, "-l", "log", "-o", "*", "../server.tic",
                                     "../client.tic"}, here);
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(0, std::string(), std::string())) << quiet;
    EXPECT_EQ(read_file(dir / (into + "/bin/tarnsql")), read_file(dir / "drawn/bin/tarnsql"));
    const std::string log = read_file(dir / (into + "/log"));
    EXPECT_EQ(log.substr(log.size() - 3), "ok\n") << "the log is kept as without -q";
    const RunResult upgrade = run_kestrel({"upgrade", quiet, "-d", into, "../server.tic", "../client.tic"}, here);
    EXPECT_EQ(std::tie(upgrade.status, upgrade.out, upgrade.err), std::make_tuple(0, std::string(), std::string()));
  }
}

}  // namespace
