// One archive: opening, the error word when its table cannot load, what it
// says when it cannot be read or checked, and knowing its own file. install
// shows seeking to the streams end to end, and toc_test the byte order of
// the header.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/archive_writer.h"
#include "support/fresh_error_word.h"
#include "support/temp_dir.h"
#include "tic/archive/archive_steps.h"
#include "tic/archive/tic.h"

class TicArchive : public FreshErrorWord {};

TEST_F(TicArchive, OpensWhatLoadsAndKnowsItsOwnFileUnderAnotherName) {
  TempDir dir;
  const std::string path = dir / "empty.tic", short_path = dir / "short.tic";
  write_file(path, std::string(104, '\0'));  // a header without tables
  write_file(short_path, std::string(103, '\0'));
  Tic closed(short_path.c_str(), false, nullptr, 0);
  EXPECT_EQ(closed.descriptor(), -1);
  errno = 0;
  EXPECT_EQ(closed.seek_file("x"), -1);
  EXPECT_EQ(ERROR, 0x60700) << "the step of loading the table";
  Tic tic(path.c_str(), false, nullptr, 0);
  EXPECT_NE(tic.descriptor(), -1);
  EXPECT_TRUE(tic.get_toc().file_map.empty());
  ASSERT_EQ(symlink(path.c_str(), (dir / "link.tic").c_str()), 0);
  EXPECT_TRUE(tic.compressing_me(dir / "link.tic"));
  EXPECT_FALSE(tic.compressing_me(short_path));
}

// Opening, loading and the whole-archive check fail silently, as the error
// word goes: the archive keeps why, about its path, for the programs.
TEST_F(TicArchive, WhatCannotBeReadOrCheckedSaysWhyAboutItsPathAndLeavesTheErrorWord) {
  TempDir dir;
  write_file(dir / "short.tic", std::string(103, '\0'));
  std::string claims(104, '\0');
  const uint64_t string_offset = 104, strings = 1000;
  std::memcpy(&claims[64], &string_offset, sizeof string_offset);
  std::memcpy(&claims[72], &strings, sizeof strings);
  write_file(dir / "claims.tic", claims);
  ASSERT_EQ(mkfifo((dir / "fifo.tic").c_str(), 0600), 0);
  const std::pair<std::string, const char*> cases[] = {
      {dir / "absent.tic", "No such file or directory"},
      {dir.path(), "not a regular file"},
      {dir / "fifo.tic", "not a regular file"},
      {dir / "short.tic", "header cut short"},
      {dir / "claims.tic", "table runs past the end of the archive"},
  };
  for (const auto& [path, why] : cases) {
    Tic tic(path.c_str(), false, nullptr, 0);
    EXPECT_EQ(tic.descriptor(), -1) << path;
    EXPECT_EQ(tic.read_failure().line(), path + ": " + why);
    EXPECT_EQ(tic.read_toc(false), -1);
    EXPECT_EQ(tic.integrity().failure().line(), path + ": " + why) << "not open, for the same reason";
  }
  Tic unnamed(nullptr, false, nullptr, 0);
  EXPECT_EQ(unnamed.open(nullptr), -1);
  EXPECT_EQ(unnamed.read_failure().text(), "no archive named");
  EXPECT_EQ(ERROR, 0) << "opening and checking never publish";

  TicToc toc;
  toc.file_map["f"] = make_entry(toc.options.option_mask("o"));
  const std::string path = dir / "a.tic";
  write_test_archive(path, toc, true);
  Tic unsealed(path.c_str(), false, nullptr, 0);
  ASSERT_FALSE(unsealed.read_failure().failed());
  EXPECT_NE(unsealed.validate(), 0);
  EXPECT_EQ(unsealed.integrity().failure().step, kStepArchiveMac);
  EXPECT_EQ(unsealed.integrity().failure().line(), path + ": archive does not match its MAC");
  write_test_archive_mac(path, "");
  EXPECT_EQ(unsealed.validate(), 0);
  EXPECT_TRUE(unsealed.integrity().ok());
  EXPECT_EQ(ERROR, 0);
}

// Without an engine, extract and compress fail as the error word says, and
// name the archive.
TEST_F(TicArchive, ExtractAndCompressWithoutAnEnginePublishTheirFailure) {
  Tic tic(nullptr, false, nullptr, 0);
  tic.set_path("out.tic");
  EXPECT_EQ(tic.extract("*", ""), -1);
  EXPECT_EQ(ERROR, ENOSYS | (kStepNoEngine.code << 8));
  EXPECT_EQ(published_failure().line(), "out.tic: no extraction engine");
  ERROR = 0;
  EXPECT_EQ(tic.compress(nullptr, false), 1);
  EXPECT_EQ(published_failure().line(), "out.tic: no archive builder");
  EXPECT_EQ(tic.write_toc(false), -1);
}
