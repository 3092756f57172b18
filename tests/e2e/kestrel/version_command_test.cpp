// kestrel version <parameter> <file>, and the program's own stamp, through
// the real binary.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/fd.h"
#include "support/archive_writer.h"
#include "support/run.h"
#include "support/temp_dir.h"
#include "tic/archive/tic.h"

namespace {

using namespace std::string_literals;
using Words = std::vector<std::string>;

TEST(VersionCommand, PrintsOneValueOrSaysWhyNot) {
  const std::string usage = "Tarnvale Install Utility Version 17.0.11.7254\nusage: version <parameter> <file>\n";
  const std::string info_line = "UNAME=SunOS 5.10 Generic X86\n";  // the fifteenth text of the program's own stamp
  TempDir dir;
  const std::string lib = dir / "libsample.so", stripped = dir / "kestrel";
  write_file(lib, "\x7f" "ELF..."s + "@@==Version==@1@MODULE=sample\0BUILD_NUMBER=4716\0\0 trailing"s);
  ASSERT_EQ(symlink(lib.c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(system(("cp '" KESTREL_BIN "' '" + stripped + "' && strip '" + stripped + "'").c_str()), 0);
  // TARNA_VERSION_INFO, whatever its value, prints before the command runs.
  const struct { Words args; int status; std::string out, err = ""; Words env = {}; } cases[] = {
      {{"version", "build_number", dir / "link", "ignored"}, 0, "4716\n"},  // the link is followed
      {{"version", "HOST", lib}, 255, "", "kestrel: version: " + lib + ": no stamp entry HOST\n"},
      {{"version", "MODULE", "/dev/null"}, 255, "", "kestrel: version: /dev/null: not a regular file\n"},
      {{"version", "MODULE", "/dev/zero"}, 255, "", "kestrel: version: /dev/zero: not a regular file\n"},
      {{"version", "MODULE", dir / "none"}, 255, "", "kestrel: version: " + dir / "none" + ": No such file or directory\n"},
      {{"version", "MODULE", KESTREL_BIN "/.."}, 255, "", "kestrel: version: " KESTREL_BIN "/..: Not a directory\n"},
      {{"version", "BUILD_NUMBER", dir.path()}, 255, "", "kestrel: version: " + dir.path() + ": not a regular file\n"},
      {{"version", "VERSION_CLASS", SAMPLE_DIR "/README"}, 255, "", "kestrel: version: " SAMPLE_DIR "/README: no version stamp\n"},
      {{"version", "IDENT"}, 255, "", usage},
      {{"version", "MODULE", stripped}, 0, info_line + "kestrel\n", "", {"TARNA_VERSION_INFO=1"}},  // stripped
      {{"version"}, 255, info_line, usage, {"TARNA_VERSION_INFO="}},
  };
  for (const auto& c : cases) {
    const RunResult r = run_kestrel(c.args, {"", c.env, {"TARNA_VERSION_INFO"}});
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::tie(c.status, c.out, c.err)) << c.args.back();
  }
}

// An archive's block is read where its header says it lies, however many
// blocks the file holds before it; when the header says nothing usable the
// file is searched, and the first block found answers.
TEST(VersionCommand, AnArchivesBlockIsReadWhereItsHeaderSays) {
  TempDir dir;
  const std::string path = dir / "a.tic";
  TicToc toc;
  toc.file_map["a"] = make_entry(1);
  toc.file_map["b"] = make_entry(1);
  write_test_archive(path, toc, true,
                     {{"a", "@@==Version==@1@MODULE=first\0\0"s}, {"b", "@@==Version==@1@MODULE=named\0\0"s}});
  const uint64_t named = Tic(path.c_str(), false, nullptr, 0).get_toc().file_map.at("b").data_offset;
  for (const auto& [offset, expected] : {std::pair<uint64_t, std::string>{named, "named\n"}, {0, "first\n"},
                                         {named + 1, "first\n"}, {~0ULL, "first\n"}}) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY));
    ASSERT_EQ(pwrite_full(fd.get(), &offset, sizeof offset, offsetof(TicHeader, version_offset)), 8);
    EXPECT_EQ(run_kestrel({"version", "MODULE", path}).out, expected) << offset;
  }
}

}  // namespace
