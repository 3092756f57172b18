// The directory maker of the backup tree; install_command_test shows the
// markers and the moves end to end.
#include <errno.h>
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "tic/backup.h"

TEST(Backup, MakeDirectoriesCreatesParentsRestoresThePathAndRefusesNonDirectories) {
  TempDir dir;
  std::string path = dir / "a/b//c", in_the_way = dir / "file";
  EXPECT_EQ(make_directories(path.data()), 0);
  EXPECT_EQ(path, dir / "a/b//c") << "the path is restored";
  EXPECT_TRUE(file_exists(dir / "a/b/c/.")) << "a directory";
  EXPECT_EQ(make_directories(path.data()), 0) << "an existing directory is fine";
  write_file(in_the_way, "x");
  errno = 0;
  EXPECT_EQ(make_directories(in_the_way.data()), -1);
  EXPECT_EQ(errno, ENOTDIR);
}
