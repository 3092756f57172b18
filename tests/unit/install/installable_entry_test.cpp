// The names an installation may hold, which archives and records alike
// must keep to, and the tar entry a stream starts with, held to its table
// entry.
#include "install/installable_entry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tic/archive/stream_decoder.h"

namespace {

TEST(InstallableEntry, NamesThatCouldLeaveTheDirectoryOrHideAsTemporariesAreRefused) {
  for (const char* name : {"a", "a/b", "dir/.hidden", "caf\xc3\xa9", "bytes\x80\xff", "a..b", "a/b.kestrel-new"})
    EXPECT_EQ(installable_name_problem(name), "") << name;
  for (const char* name : {"", "/etc/passwd", "../up", "a/../../b", "a/..", "tab\there", "a/", "a/.", ".",
                           ".kestrel-tmp-1-x", "d/.kestrel-tmp-2-y"})
    EXPECT_NE(installable_name_problem(name), "") << name;
}

a_stream_entry entry(const std::string& pathname, unsigned long mode, uint64_t size = 0) {
  a_stream_entry e;
  e.pathname = pathname;
  e.mode = mode;
  e.size = size;
  return e;
}

TEST(InstallableEntry, AStreamMustHoldTheFileItsEntryNames) {
  EXPECT_EQ(stream_entry_problem("a/f", entry("a/f", S_IFREG | 0644, 5), 5), "");
  EXPECT_EQ(stream_entry_problem("a/d", entry("a/d/", S_IFDIR | 0755), 0), "");
  EXPECT_EQ(stream_entry_problem("a/l", entry("a/l", S_IFLNK | 0777), 0), "");
  EXPECT_EQ(stream_entry_problem("a/f", entry("a/g", S_IFREG | 0644, 5), 5), "stream holds a/g instead");
  // Only a directory may carry the trailing slash.
  EXPECT_EQ(stream_entry_problem("a/f", entry("a/f/", S_IFREG | 0644), 0), "stream holds a/f/ instead");
  EXPECT_EQ(stream_entry_problem("a/f", entry("a/f", S_IFREG | 0644, 6), 5), "stream holds 6 bytes, its entry 5");
  a_stream_entry hard = entry("a/f", S_IFREG | 0644);
  hard.hard_link = true;
  EXPECT_EQ(stream_entry_problem("a/f", hard, 0), "refusing to create a hard link");
  EXPECT_EQ(stream_entry_problem("a/f", entry("a/f", S_IFCHR | 0644), 0), "refusing to create a character device");
  EXPECT_EQ(stream_entry_problem("a/f", entry("a/f", S_IFIFO | 0644), 0), "refusing to create a FIFO");
  // The name is checked as an archive's is, whatever the stream agrees to.
  EXPECT_NE(stream_entry_problem("../f", entry("../f", S_IFREG | 0644), 0), "");
}

}  // namespace
