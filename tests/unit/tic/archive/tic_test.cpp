// One archive: opening, the error word when its table cannot load, and
// knowing its own file. install shows seeking to the streams end to end, and
// toc_test the byte order of the header.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

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
