// install through the real binary, on archives built by tictool (and a few
// forged by hand): the installed tree, the log, the progress line, the
// backup tree, and every way an installation fails.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "support/archive_writer.h"
#include "support/run.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "tic/tic.h"

namespace {

// A product under construction: its tree in src/, archives in media/, and
// an install directory target/.
struct Product {
  TempDir dir;

  Product() {
    write_file(dir / "target/.keep", "");
    ::unlink((dir / "target/.keep").c_str());
    write_file(dir / "media/.keep", "");
    ::unlink((dir / "media/.keep").c_str());
  }

  void add(const std::string& name, const std::string& bytes, mode_t mode = 0644) const {
    write_file(dir / ("src/" + name), bytes);
    ::chmod((dir / ("src/" + name)).c_str(), mode);
  }

  void link(const std::string& name, const std::string& target) const {
    write_file(dir / ("src/" + name), "");
    ::unlink((dir / ("src/" + name)).c_str());
    EXPECT_EQ(::symlink(target.c_str(), (dir / ("src/" + name)).c_str()), 0);
  }

  // Builds media/<archive> from |list| (the list file's text) and |paths|
  // below src/; |all| keeps records of files without data.
  void build(const std::string& archive, const std::string& list, const std::vector<std::string>& paths,
             bool all = false) const {
    write_file(dir / (archive + ".list"), list);
    std::vector<std::string> args{"build"};
    if (all) args.push_back("-a");
    args.insert(args.end(), {"-C", dir / "src", dir / (archive + ".list"), dir / ("media/" + archive)});
    args.insert(args.end(), paths.begin(), paths.end());
    const RunResult r = run_tictool(args);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  // Runs kestrel with the product's directory as working directory.
  RunResult kestrel(const std::vector<std::string>& args) const {
    RunOptions options;
    options.cwd = dir.path();
    return run_kestrel(args, options);
  }

  std::string installed(const std::string& name) const { return read_file(dir / ("target/" + name)); }
};

mode_t mode_of(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

std::string link_target(const std::string& path) {
  char buffer[4096];
  const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
  return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

std::string random_bytes(size_t n, unsigned seed) {
  std::string bytes(n, '\0');
  for (char& c : bytes) {
    seed = seed * 1103515245 + 12345;
    c = static_cast<char>(seed >> 16);
  }
  return bytes;
}

TEST(Install, TheInstalledTreeEqualsTheSource) {
  Product p;
  p.add("bin/server", "#!/bin/sh\necho server\n", 0755);
  p.add("etc/server.conf", "port=5000\n", 0600);
  p.add("share/doc/big.dat", random_bytes(100000, 7));
  p.add("lib/libx.so.1", "library");
  p.link("lib/libx.so", "libx.so.1");
  p.add("share/extra.txt", "from the second archive\n");
  p.build("base.tic",
          "bin/server;server;;0;0;0\netc/server.conf;server;;0;0;0\nlib/libx.so;server;;0;0;0\n"
          "lib/libx.so.1;server;;0;0;0\nshare/doc/big.dat;docs;;0;0;0\nshare/extra.txt;docs;;0;0;0\n",
          {"bin", "etc", "lib", "share/doc"}, true);
  p.build("extra.tic", "share/extra.txt;docs;;0;0;0\n", {"share/extra.txt"});

  const RunResult r = p.kestrel({"install", "-d", "target", "-o", "server|docs", "../media/base.tic",
                                 "../media/extra.tic"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (const char* name : {"bin/server", "etc/server.conf", "share/doc/big.dat", "lib/libx.so.1", "share/extra.txt"}) {
    EXPECT_EQ(p.installed(name), read_file(p.dir / (std::string("src/") + name))) << name;
    EXPECT_EQ(mode_of(p.dir / (std::string("target/") + name)) & 07777,
              mode_of(p.dir / (std::string("src/") + name)) & 07777 & ~0022u)
        << name;
  }
  EXPECT_TRUE(S_ISLNK(mode_of(p.dir / "target/lib/libx.so")));
  EXPECT_EQ(link_target(p.dir / "target/lib/libx.so"), "libx.so.1");
}

TEST(Install, LogsEveryFileInDataOffsetOrderThenOk) {
  Product p;
  p.add("z-file", std::string(10, 'z'));
  p.add("a-file", random_bytes(3000, 1));
  p.add("b-file", std::string(20, 'b'), 0750);
  p.build("one.tic", "z-file;o;;0;0;0\n", {"z-file"});
  p.build("two.tic", "a-file;o;;0;0;0\nb-file;o;;0;0;0\n", {"a-file", "b-file"});

  // Both first streams lie at 104 (a-file before z-file by name); b-file
  // follows a-file in two.tic.
  const RunResult r = p.kestrel({"install", "-d", "target", "-l", "install.log", "-o", "o", "../media/one.tic",
                                 "../media/two.tic"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(p.installed("install.log"),
            "-rw-r--r--       3000 a-file\n"
            "-rw-r--r--         10 z-file\n"
            "-rwxr-x---         20 b-file\n"
            "ok\n");
}

TEST(Install, ShowsTheProgressLineByteForByte) {
  Product p;
  p.add("aaaa", std::string(10, 'a'));
  p.add("bb", std::string(30, 'b'));
  p.add("c", std::string(60, 'c'));
  p.build("p.tic", "aaaa;o;;0;0;0\nbb;o;;0;0;0\nc;o;;0;0;0\n", {"aaaa", "bb", "c"});
  const RunResult r = p.kestrel({"install", "-d", "target", "-o", "o", "../media/p.tic"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, " 10% aaaa\r 40% bb  \r100% c \r      \n");
  EXPECT_EQ(r.err, "") << "no log lines anywhere without -l";
}

TEST(Install, WithoutOptionsInstallsNothingAndSucceeds) {
  Product p;
  p.add("f", "x");
  p.build("p.tic", "f;o;;0;0;0\n", {"f"});
  for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"-o", "unknown"}}) {
    std::vector<std::string> args{"install", "-d", "target", "-l", "log"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back("../media/p.tic");
    const RunResult r = p.kestrel(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "") << "no progress line, not even the closing one";
    EXPECT_EQ(p.installed("log"), "ok\n");
    EXPECT_FALSE(file_exists(p.dir / "target/f"));
  }
}

TEST(Install, RelativeNamesResolveInsideTheInstallDirectory) {
  Product p;
  p.add("f", "new");
  p.build("p.tic", "f;o;;0;0;0\n", {"f"});
  write_file(p.dir / "target/media/p.tic", read_file(p.dir / "media/p.tic"));
  write_file(p.dir / "target/f", "old");
  const RunResult r = p.kestrel({"install", "-d", "target", "-l", "install.log", "-b", "backup", "-o", "o",
                                 "media/p.tic"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(p.installed("install.log"), "-rw-r--r--          3 f\nok\n");
  EXPECT_EQ(p.installed("backup/f"), "old");
  EXPECT_FALSE(file_exists(p.dir / "install.log"));
  EXPECT_FALSE(file_exists(p.dir / "backup"));
}

TEST(Install, SecondInstallMovesReplacedFilesIntoTheBackupTree) {
  Product p;
  p.add("bin/tool", "tool v1", 0755);
  p.add("share/new.txt", "new file");
  p.build("v1.tic", "bin/tool;o;;0;0;0\n", {"bin"});
  p.build("v2.tic", "bin/tool;o;;0;0;0\nshare/new.txt;o;;0;0;0\n", {"bin", "share"});
  ASSERT_EQ(p.kestrel({"install", "-d", "target", "-o", "o", "../media/v1.tic"}).status, 0);
  write_file(p.dir / "target/bin/tool", "edited locally");

  const RunResult r = p.kestrel({"install", "-d", "target", "-b", "saved/1", "-o", "o", "../media/v2.tic"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(p.installed("bin/tool"), "tool v1");
  EXPECT_EQ(p.installed("saved/1/bin/tool"), "edited locally");
  EXPECT_EQ(p.installed("saved/1/share/new.txt"), "created as share/new.txt\n");
}

TEST(Install, ANonDirectoryInTheWayOfTheBackupFails) {
  Product p;
  p.add("f", "x");
  p.build("p.tic", "f;o;;0;0;0\n", {"f"});
  write_file(p.dir / "target/bak", "a plain file");
  const RunResult r = p.kestrel({"install", "-d", "target", "-b", "bak", "-o", "o", "../media/p.tic"});
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(file_exists(p.dir / "target/f"));
}

TEST(Install, FailedValidationWritesNothingAndLeavesAnEmptyLog) {
  Product p;
  p.add("f", "x");
  p.build("p.tic", "f;o;;0;0;0\n", {"f"});
  std::string bytes = read_file(p.dir / "media/p.tic");
  bytes[bytes.size() - 1] ^= 1;
  write_file(p.dir / "media/p.tic", bytes);
  const RunResult r = p.kestrel({"install", "-d", "target", "-l", "log", "-o", "*", "../media/p.tic"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(p.installed("log"), "");
  EXPECT_FALSE(file_exists(p.dir / "target/f"));
}

TEST(Install, UnusableDirectoryOrLogFails) {
  Product p;
  p.add("f", "x");
  p.build("p.tic", "f;o;;0;0;0\n", {"f"});
  EXPECT_EQ(p.kestrel({"install", "-d", "missing", "-o", "o", "media/p.tic"}).status, 255);
  EXPECT_EQ(p.kestrel({"install", "-l", "no/such/dir/log", "-o", "o", "media/p.tic"}).status, 255);
  EXPECT_FALSE(file_exists(p.dir / "f"));
}

TEST(Install, AChangedStoredByteFailsThatFileAndKeepsTheOnesBefore) {
  Product p;
  p.add("1-first", random_bytes(5000, 1));
  p.add("2-second", random_bytes(5000, 2));
  p.add("3-third", random_bytes(5000, 3));
  p.build("p.tic", "1-first;o;;0;0;0\n2-second;o;;0;0;0\n3-third;o;;0;0;0\n", {"1-first", "2-second", "3-third"});
  uint64_t at;
  {
    const std::string path = p.dir / "media/p.tic";
    Tic tic(path.c_str(), false, nullptr, 0);
    const TicTocEntry* second = tic.find_file("2-second");
    ASSERT_NE(second, nullptr);
    at = second->data_offset + second->stored_length / 2;
  }
  std::string bytes = read_file(p.dir / "media/p.tic");
  bytes[at] ^= 0x40;
  write_file(p.dir / "media/p.tic", bytes);

  const RunResult r = p.kestrel({"install", "-d", "target", "-l", "log", "-o", "o", "../media/p.tic"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(p.installed("1-first"), read_file(p.dir / "src/1-first"));
  EXPECT_FALSE(file_exists(p.dir / "target/3-third"));
  const std::string log = p.installed("log");
  EXPECT_EQ(log.rfind("-rw-r--r--       5000 1-first\n", 0), 0u);
  EXPECT_EQ(log.find("ok\n"), std::string::npos);
}

// An archive holding one forged stream under the table name |name|.
void write_forged_archive(const std::string& path, const std::string& name, const ForgedEntry& entry) {
  const ForgedStream stream = forge_stream(entry, product_key());
  TicToc toc;
  TicTocEntry e = make_entry(toc.options.option_mask("o"), 0, entry.contents.size());
  std::copy(stream.mac.begin(), stream.mac.end(), e.mac);
  toc.file_map[name] = e;
  write_test_archive(path, toc, true, {{name, stream.stored}});
  write_test_archive_mac(path, product_key());
}

TEST(Install, AForgedStreamWithinTheRulesInstalls) {
  Product p;
  ForgedEntry entry;
  entry.pathname = "dir/ok";
  entry.contents = "forged but sound";
  write_forged_archive(p.dir / "media/f.tic", "dir/ok", entry);
  const RunResult r = p.kestrel({"install", "-d", "target", "-o", "o", "../media/f.tic"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(p.installed("dir/ok"), "forged but sound");
}

TEST(Install, StoredBytesLeftOverBeyondOneBlockFail) {
  Product p;
  ForgedEntry entry;
  entry.pathname = "f";
  entry.contents = "data";
  entry.trailer = std::string(200000, '\0');
  write_forged_archive(p.dir / "media/f.tic", "f", entry);
  EXPECT_EQ(p.kestrel({"install", "-d", "target", "-o", "o", "../media/f.tic"}).status, 255);
}

TEST(Install, NeverWritesWhatTheTableDoesNotName) {
  Product p;
  struct Case {
    const char* table_name;
    ForgedEntry entry;
  };
  const Case cases[] = {
      {"victim", {"other", "payload", 0644, "", ""}},
      {"../escape", {"../escape", "payload", 0644, "", ""}},
      {"sub/../../escape", {"sub/../../escape", "payload", 0644, "", ""}},
      {"link", {"link", "", 0644, "../escape", ""}},
  };
  for (const Case& c : cases) {
    write_forged_archive(p.dir / "media/f.tic", c.table_name, c.entry);
    const RunResult r = p.kestrel({"install", "-d", "target", "-o", "o", "../media/f.tic"});
    EXPECT_EQ(r.status, 255) << c.table_name;
    EXPECT_FALSE(file_exists(p.dir / "target/victim")) << c.table_name;
    EXPECT_FALSE(file_exists(p.dir / "target/other")) << c.table_name;
    EXPECT_FALSE(file_exists(p.dir / "escape")) << c.table_name;
    EXPECT_FALSE(file_exists(p.dir / "target/link")) << c.table_name;
  }
}

}  // namespace
