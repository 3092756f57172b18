// The backup tree: directories, markers and moves.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/temp_dir.h"
#include "tic/backup.h"

namespace {

bool is_directory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(Backup, MakeDirectoriesCreatesMissingParentsAndRestoresThePath) {
  TempDir dir;
  std::string path = dir / "a/b//c";
  std::string copy = path;
  EXPECT_EQ(make_directories(copy.data()), 0);
  EXPECT_EQ(copy, path);
  EXPECT_TRUE(is_directory(dir / "a/b/c"));
  EXPECT_EQ(make_directories(copy.data()), 0) << "an existing directory is fine";
}

TEST(Backup, MakeDirectoriesRefusesANonDirectoryInTheWay) {
  TempDir dir;
  write_file(dir / "file", "x");
  std::string at = dir / "file";
  errno = 0;
  EXPECT_EQ(make_directories(at.data()), -1);
  EXPECT_EQ(errno, ENOTDIR);
  std::string below = dir / "file/sub";
  EXPECT_EQ(make_directories(below.data()), -1);
}

TEST(Backup, MarkerIsWrittenBelowNewDirectories) {
  TempDir dir;
  EXPECT_EQ(write_backup_marker((dir / "bak/lib/x.so").c_str(), "created as lib/x.so\n"), 0);
  EXPECT_EQ(read_file(dir / "bak/lib/x.so"), "created as lib/x.so\n");
  write_file(dir / "plain", "x");
  EXPECT_NE(write_backup_marker((dir / "plain/y").c_str(), "created as y\n"), 0);
}

TEST(Backup, MovesAnExistingObjectIntoTheTree) {
  TempDir dir;
  write_file(dir / "etc/conf", "old");
  EXPECT_EQ(move_into_backup(dir / "etc/conf", dir / "bak/etc/conf"), 0);
  EXPECT_FALSE(file_exists(dir / "etc/conf"));
  EXPECT_EQ(read_file(dir / "bak/etc/conf"), "old");
}

}  // namespace
