// kestrel version <parameter> <file>, and the program's own stamp, through
// the real binary.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "stamp/dbversion.h"
#include "support/run.h"
#include "support/temp_dir.h"

namespace {

using namespace std::string_literals;

const std::string kVersionUsage =
    "Tarnvale Install Utility Version 17.0.11.7254\nusage: version <parameter> <file>\n";

// The fifteenth text of the program's own stamp.
const std::string kVersionInfoLine = "UNAME=SunOS 5.10 Generic X86\n";

// Runs "kestrel version <args>" without TARNA_VERSION_INFO and checks all
// of its output.
void expect_version(const std::vector<std::string>& args, int status, const std::string& out,
                    const std::string& err = "") {
  RunOptions options;
  options.unset_env = {"TARNA_VERSION_INFO"};
  std::vector<std::string> words{"version"};
  words.insert(words.end(), args.begin(), args.end());
  RunResult r = run_kestrel(words, options);
  EXPECT_EQ(r.status, status) << args.front();
  EXPECT_EQ(r.out, out) << args.front();
  EXPECT_EQ(r.err, err) << args.front();
}

TEST(VersionCommand, PrintsOneValueOrNothing) {
  TempDir dir;
  const std::string lib = dir / "libsample.so";
  write_file(lib, "\x7f" "ELF..."s + "@@==Version==@1@MODULE=sample\0BUILD_NUMBER=4716\0EMPTY=\0"
                  "EXTENSIONS=A8\0\0ABCDEFGH\0 trailing"s);
  ASSERT_EQ(symlink(lib.c_str(), (dir / "link").c_str()), 0);
  write_file(dir / "plain", std::string(10000, 'p'));

  expect_version({"build_number", lib}, 0, "4716\n");
  expect_version({"Module", dir / "link", "ignored"}, 0, "sample\n");
  expect_version({"EMPTY", lib}, 0, "\n");
  expect_version({"EXTENSIONS", lib}, 0, "A8\n");

  expect_version({"HOST", lib}, 255, "");
  expect_version({"MODULE", dir / "plain"}, 255, "");
  expect_version({"MODULE", dir / "missing"}, 255, "");
  expect_version({"IDENT"}, 255, "", kVersionUsage);
}

TEST(OwnStamp, TheProgramCarriesItsOwnStamp) {
  expect_version({"MODULE", KESTREL_BIN}, 0, "kestrel\n");
  expect_version({"VERSION_MAJOR", KESTREL_BIN}, 0, "17\n");

  // The whole 499-byte block: eighteen entries, then extension "A".
  auto info = std::make_unique<dbversion_info>();
  ASSERT_EQ(__Get_dbversion_info(KESTREL_BIN, info.get(), 1), kInfoFound);
  const char* const keys[] = {"MODULE", "VERSION_CLASS", "VERSION_MAJOR", "VERSION_MINOR", "VERSION_PATCH",
                              "BUILD_NUMBER", "POINTERSIZE", "PLATFORM", "DATE", "TIME", "HOST", "THREADS",
                              "PRODUCTION", "COMPILER", "UNAME", "IDENT", "COPYRIGHT", "EXTENSIONS"};
  ASSERT_EQ(info->num_args, 18u);
  for (unsigned i = 0; i < 18; ++i) EXPECT_STREQ(info->args[i].name, keys[i]);
  ASSERT_EQ(info->num_exts, 1u);
  EXPECT_EQ(std::string(info->exts[0].data, 8), "tarnvale");
  EXPECT_EQ(info->block_length, 499u - 16 - 1) << "through the extension data, before the final NUL";
}

TEST(OwnStamp, SurvivesStripping) {
  if (system("command -v strip >/dev/null 2>&1") != 0) GTEST_SKIP() << "no strip on this machine";
  TempDir dir;
  const std::string copy = dir / "kestrel";
  ASSERT_EQ(system(("cp '" KESTREL_BIN "' '" + copy + "' && strip '" + copy + "'").c_str()), 0);
  RunResult r = run_program(copy, {"kestrel", "version", "MODULE", copy}, {"", {}, {"TARNA_VERSION_INFO"}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "kestrel\n");
}

TEST(OwnStamp, VersionInfoSwitchPrintsBeforeTheCommand) {
  RunOptions options;
  options.extra_env = {"TARNA_VERSION_INFO=1"};
  RunResult r = run_kestrel({"version", "MODULE", KESTREL_BIN}, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kVersionInfoLine + "kestrel\n");

  // Any value counts, even an empty one, and the command still runs.
  options.extra_env = {"TARNA_VERSION_INFO="};
  r = run_kestrel({"version"}, options);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, kVersionInfoLine);
  EXPECT_EQ(r.err, kVersionUsage);
}

}  // namespace
