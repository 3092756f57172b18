// The directory maker of the backup tree; install_command_test shows the
// markers and the moves end to end.
#include <errno.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"
#include "tic/backup.h"

TEST(Backup, MakeDirectoriesCreatesParentsRestoresThePathAndRefusesNonDirectories) {
  TempDir dir;
  std::string path = dir / "a/b//c";
  EXPECT_EQ(make_directories(path.data()), 0);
  EXPECT_EQ(path, dir / "a/b//c") << "the path is restored";
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b/c"));
  EXPECT_EQ(make_directories(path.data()), 0) << "an existing directory is fine";
  write_file(dir / "file", "x");
  std::string in_the_way = dir / "file";
  errno = 0;
  EXPECT_EQ(make_directories(in_the_way.data()), -1);
  EXPECT_EQ(errno, ENOTDIR);
}
