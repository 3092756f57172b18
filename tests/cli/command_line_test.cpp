// The command line: choice of command, leading switches, usage texts.
#include <gtest/gtest.h>

#include <initializer_list>

#include "cli/commands.h"
#include "support/run.h"

namespace {

const std::string kBannerLine = "Tarnvale Install Utility Version 17.0.11.7254\n";
const std::string kGeneralUsage = kBannerLine + "usage: kestrel <command> [options] [args [...]]\n";
const std::string kInstallUsage =
    kBannerLine + "usage: install [-l <log>] [-b <backup_dir>] [-d <install_dir>] [-o <options>] <tic> [<tic> [...]]\n";

// Builds the command for "kestrel <words...>" without running it.
std::unique_ptr<Command> parse(std::initializer_list<const char*> words) {
  std::vector<char*> argv{const_cast<char*>("kestrel")};
  for (const char* w : words) argv.push_back(const_cast<char*>(w));
  argv.push_back(nullptr);
  return make_command(static_cast<int>(argv.size() - 1), argv.data());
}

template <typename T>
T& as(const std::unique_ptr<Command>& command) {
  T* typed = dynamic_cast<T*>(command.get());
  if (typed == nullptr) throw std::runtime_error("unexpected command class");
  return *typed;
}

using Args = std::vector<std::string>;

TEST(CommandLine, NoArgumentsPrintsGeneralUsageAndSucceeds) {
  RunResult r = run_kestrel({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kGeneralUsage);
}

TEST(CommandLine, GeneralUsageShowsTheNameAsInvoked) {
  RunResult r = run_program(KESTREL_BIN, {"/opt/tarnvale/bin/kestrel"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kBannerLine + "usage: /opt/tarnvale/bin/kestrel <command> [options] [args [...]]\n");
}

TEST(CommandLine, UnknownWordsFallBackToGeneralUsage) {
  for (const char* word : {"usage", "frobnicate", "-d", "lists", ""}) {
    RunResult r = run_kestrel({word, "x.tic"});
    EXPECT_EQ(r.status, 0) << word;
    EXPECT_EQ(r.out, "") << word;
    EXPECT_EQ(r.err, kGeneralUsage) << word;
  }
}

TEST(CommandLine, CommandWordsIgnoreCase) {
  RunResult r = run_kestrel({"INSTALL"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kInstallUsage);

  EXPECT_NE(dynamic_cast<CommandList*>(parse({"LiSt"}).get()), nullptr);
  EXPECT_NE(dynamic_cast<CommandVersion*>(parse({"VERSION"}).get()), nullptr);
  EXPECT_NE(dynamic_cast<CommandOptions*>(parse({"Options"}).get()), nullptr);
  EXPECT_NE(dynamic_cast<CommandSpace*>(parse({"sPACE"}).get()), nullptr);
  EXPECT_NE(dynamic_cast<CommandValidate*>(parse({"validatE"}).get()), nullptr);
}

TEST(CommandLine, SwitchWithoutValueIsConsumed) {
  RunResult r = run_kestrel({"install", "-l"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, kInstallUsage);

  auto command = parse({"install", "-d"});
  EXPECT_EQ(as<CommandInstall>(command).directory, "");
  EXPECT_EQ(command->args, Args{});
}

TEST(CommandLine, SwitchValueIsTakenVerbatim) {
  auto command = parse({"install", "-d", "-o"});
  EXPECT_EQ(as<CommandInstall>(command).directory, "-o");
  EXPECT_EQ(as<CommandInstall>(command).options, "");
  EXPECT_EQ(command->args, Args{});
}

TEST(CommandLine, SwitchesAfterTheFirstPositionalStayPositional) {
  auto space = parse({"space", "a.tic", "-d", "dir"});
  EXPECT_EQ(as<CommandSpace>(space).directory, "");
  EXPECT_EQ(space->args, (Args{"a.tic", "-d", "dir"}));

  auto install = parse({"install", "-o", "a", "x.tic", "-o", "b"});
  EXPECT_EQ(as<CommandInstall>(install).options, "a");
  EXPECT_EQ(install->args, (Args{"x.tic", "-o", "b"}));
}

TEST(CommandLine, RepeatedSwitchReplacesTheEarlierValue) {
  auto command = parse({"install", "-o", "a", "--options", "b", "-d", "x", "--directory", "y", "t.tic"});
  EXPECT_EQ(as<CommandInstall>(command).options, "b");
  EXPECT_EQ(as<CommandInstall>(command).directory, "y");
  EXPECT_EQ(command->args, Args{"t.tic"});
}

TEST(CommandLine, SwitchNamesAreWholeCaseSensitiveWords) {
  auto upper = parse({"space", "-D", "dir", "a.tic"});
  EXPECT_EQ(as<CommandSpace>(upper).directory, "");
  EXPECT_EQ(upper->args, (Args{"-D", "dir", "a.tic"}));

  auto joined = parse({"list", "--options=a", "a.tic"});
  EXPECT_EQ(as<CommandList>(joined).options, "");
  EXPECT_EQ(joined->args, (Args{"--options=a", "a.tic"}));

  auto all_upper = parse({"list", "-A", "a.tic"});
  EXPECT_FALSE(as<CommandList>(all_upper).all);
  EXPECT_EQ(all_upper->args, (Args{"-A", "a.tic"}));
}

TEST(CommandLine, ListAllFlagAndOptionsInEitherOrder) {
  auto value_is_a = parse({"list", "-o", "-a", "x.tic"});
  EXPECT_EQ(as<CommandList>(value_is_a).options, "-a");
  EXPECT_FALSE(as<CommandList>(value_is_a).all);
  EXPECT_EQ(value_is_a->args, Args{"x.tic"});

  for (auto words : {std::initializer_list<const char*>{"list", "-a", "-o", "c", "x.tic"},
                     std::initializer_list<const char*>{"list", "--options", "c", "--all", "x.tic"}}) {
    auto command = parse(words);
    EXPECT_TRUE(as<CommandList>(command).all);
    EXPECT_EQ(as<CommandList>(command).options, "c");
    EXPECT_EQ(command->args, Args{"x.tic"});
  }

  auto trailing = parse({"list", "-a"});
  EXPECT_TRUE(as<CommandList>(trailing).all);
  EXPECT_EQ(trailing->args, Args{});
}

TEST(CommandLine, InstallTakesAllItsSwitches) {
  auto command = parse({"install", "-l", "log", "--backup", "bak", "-d", "dir", "-o", "a|b", "t1", "t2"});
  auto& install = as<CommandInstall>(command);
  EXPECT_EQ(install.log_file, "log");
  EXPECT_EQ(install.backup_dir, "bak");
  EXPECT_EQ(install.directory, "dir");
  EXPECT_EQ(install.options, "a|b");
  EXPECT_EQ(command->args, (Args{"t1", "t2"}));
}

TEST(CommandLine, CommandsWithoutSwitchesKeepEveryWord) {
  auto validate = parse({"validate", "-d", "dir", "a.tic"});
  EXPECT_EQ(validate->args, (Args{"-d", "dir", "a.tic"}));
  auto version = parse({"version", "-o", "x"});
  EXPECT_EQ(version->args, (Args{"-o", "x"}));
  // options takes -d but not -o.
  auto options = parse({"options", "-d", "dir", "-o", "x"});
  EXPECT_EQ(as<CommandOptions>(options).directory, "dir");
  EXPECT_EQ(options->args, (Args{"-o", "x"}));
}

TEST(CommandLine, EmptyArgumentVectorUsesTheProductName) {
  char* argv[] = {nullptr};
  auto command = make_command(0, argv);
  ASSERT_NE(dynamic_cast<CommandUsage*>(command.get()), nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(command->run(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kGeneralUsage);
}

TEST(CommandLine, EveryCommandPrintsItsUsageLine) {
  const std::pair<const char*, const char*> expected[] = {
      {"install", "usage: install [-l <log>] [-b <backup_dir>] [-d <install_dir>] [-o <options>] <tic> [<tic> [...]]\n"},
      {"list", "usage: list [-a] [-d <install_dir>] [-o <options>] <tic> [<tic> [...]]\n"},
      {"options", "usage: options [-d <install_dir>] <tic> [<tic> [...]]\n"},
      {"space", "usage: space [-d <install_dir>] [-o <options>] <tic> [<tic> [...]]\n"},
      {"validate", "usage: validate <tic> [<tic> [...]]\n"},
      {"version", "usage: version <parameter> <file>\n"},
  };
  for (const auto& [word, line] : expected) {
    auto command = parse({word});
    testing::internal::CaptureStderr();
    command->usage();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), kBannerLine + line) << word;
  }
}

}  // namespace
