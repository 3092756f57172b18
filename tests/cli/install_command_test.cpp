// install through the real binary, on archives built by tictool (and a few
// forged by hand): the installed tree, the log, the progress line, the
// backup tree, and the ways an installation fails.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "support/archive_writer.h"
#include "support/run.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "tic/tic.h"

namespace {

namespace fs = std::filesystem;

// A product: its tree in src/, its archives beside it, install directory target/.
struct Product {
  TempDir dir;

  Product() { fs::create_directory(dir / "target"); }

  void add(const std::string& name, const std::string& bytes, mode_t mode = 0644) const {
    write_file(dir / ("src/" + name), bytes);
    ::chmod((dir / ("src/" + name)).c_str(), mode);
  }

  // Builds |archive| with records for all of |listed| (option "o") from the
  // paths |scanned| below src/ (default: the listed names).
  void build(const std::string& archive, const std::vector<std::string>& listed,
             const std::vector<std::string>& scanned = {}) const {
    std::string list;
    for (const std::string& name : listed) list += name + ";o;;0;0;0\n";
    write_file(dir / (archive + ".list"), list);
    std::vector<std::string> args{"build", "-a", "-C", dir / "src", dir / (archive + ".list"), dir / archive};
    const std::vector<std::string>& paths = scanned.empty() ? listed : scanned;
    args.insert(args.end(), paths.begin(), paths.end());
    const RunResult r = run_tictool(args);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  RunResult kestrel(const std::vector<std::string>& args) const {
    RunOptions options;
    options.cwd = dir.path();
    return run_kestrel(args, options);
  }

  std::string installed(const std::string& name) const { return read_file(dir / ("target/" + name)); }
};

TEST(Install, InstallsTheSetsTreeAndLogsEachFileInDataOffsetOrder) {
  Product p;
  p.add("bin/server", "#!/bin/sh\necho server\n", 0755);
  p.add("etc/server.conf", "port=5000\n", 0600);
  p.add("lib/libx.so.1", "library");
  ASSERT_EQ(::symlink("libx.so.1", (p.dir / "src/lib/libx.so").c_str()), 0);
  std::string big(100000, '\0');  // bzip2 cannot shrink it below several 8192-byte blocks
  unsigned seed = 7;
  for (char& c : big) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
  p.add("share/doc/big.dat", big);
  p.add("share/extra.txt", "from the second archive\n");
  p.build("base.tic", {"bin/server", "etc/server.conf", "lib/libx.so", "lib/libx.so.1", "share/doc/big.dat",
                       "share/extra.txt"}, {"bin", "etc", "lib", "share/doc"});
  p.build("extra.tic", {"share/extra.txt"});

  // Relative archive and log names (and backup names, below) resolve inside
  // the install directory.
  const RunResult r = p.kestrel({"install", "-d", "target", "--log", "install.log", "-o", "o", "../base.tic",
                                 "../extra.tic"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string name : {"bin/server", "etc/server.conf", "lib/libx.so.1", "share/doc/big.dat",
                                 "share/extra.txt"}) {
    EXPECT_EQ(p.installed(name), read_file(p.dir / ("src/" + name))) << name;
    EXPECT_EQ(fs::status(p.dir / ("target/" + name)).permissions(),
              fs::status(p.dir / ("src/" + name)).permissions() & ~fs::perms(0022)) << name;
  }
  EXPECT_EQ(fs::read_symlink(p.dir / "target/lib/libx.so"), "libx.so.1");
  // The first streams of both archives lie at 104: the names decide.
  EXPECT_EQ(p.installed("install.log"),
            "-rwxr-xr-x         22 bin/server\n-rw-r--r--         24 share/extra.txt\n"
            "-rw-------         10 etc/server.conf\nlrwxrwxrwx          9 lib/libx.so\n"
            "-rw-r--r--          7 lib/libx.so.1\n-rw-r--r--     100000 share/doc/big.dat\nok\n");
}

TEST(Install, ShowsTheProgressLineByteForByteAndNothingWithoutOptions) {
  Product p;
  p.add("aaaa", std::string(10, 'a'));
  p.add("bb", std::string(30, 'b'));
  p.add("c", std::string(60, 'c'));
  p.build("p.tic", {"aaaa", "bb", "c"});
  RunResult r = p.kestrel({"install", "-d", "target", "-l", "log", "../p.tic"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "") << "no progress line, not even the closing one";
  EXPECT_EQ(p.installed("log"), "ok\n");

  r = p.kestrel({"install", "-d", "target", "-o", "o", "../p.tic"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, " 10% aaaa\r 40% bb  \r100% c \r      \n");
  EXPECT_EQ(r.err, "") << "no log lines anywhere without -l";
}

TEST(Install, MovesReplacedFilesIntoTheBackupTree) {
  Product p;
  p.add("bin/tool", "tool v2");
  p.add("share/new.txt", "new file");
  p.build("v2.tic", {"bin/tool", "share/new.txt"});
  write_file(p.dir / "target/bin/tool", "edited locally");
  ASSERT_EQ(p.kestrel({"install", "-d", "target", "--backup", "saved/1", "-o", "o", "../v2.tic"}).status, 0);
  EXPECT_EQ(p.installed("bin/tool"), "tool v2");
  EXPECT_EQ(p.installed("saved/1/bin/tool"), "edited locally");
  EXPECT_EQ(p.installed("saved/1/share/new.txt"), "created as share/new.txt\n");

  write_file(p.dir / "target/bak", "a plain file in the way");
  EXPECT_EQ(p.kestrel({"install", "-d", "target", "-b", "bak", "-o", "o", "../v2.tic"}).status, 255);
}

TEST(Install, DamagedArchivesAndUnusablePathsFail) {
  Product p;
  for (const std::string name : {"1-first", "2-second", "3-third"}) p.add(name, std::string(5000, name[0]));
  p.build("p.tic", {"1-first", "2-second", "3-third"});
  const std::string path = p.dir / "p.tic";
  const TicTocEntry second = Tic(path.c_str(), false, nullptr, 0).get_toc().file_map.at("2-second");
  const std::string good = read_file(path);
  EXPECT_EQ(p.kestrel({"install", "-d", "missing", "-o", "o", "p.tic"}).status, 255);
  EXPECT_EQ(p.kestrel({"install", "-l", "no/such/dir/log", "-o", "o", "p.tic"}).status, 255);

  // A changed byte of the tables fails validation before anything is written.
  std::string bytes = good;
  bytes.back() ^= 1;
  write_file(path, bytes);
  EXPECT_EQ(p.kestrel({"install", "-d", "target", "-l", "log", "-o", "o", "../p.tic"}).status, 255);
  EXPECT_EQ(p.installed("log"), "");

  // A changed byte of the second stream: the first file stays, no "ok".
  bytes = good;
  bytes[second.data_offset + second.stored_length / 2] ^= 0x40;
  write_file(path, bytes);
  EXPECT_EQ(p.kestrel({"install", "-d", "target", "-l", "log", "-o", "o", "../p.tic"}).status, 255);
  EXPECT_EQ(p.installed("1-first"), read_file(p.dir / "src/1-first"));
  EXPECT_EQ(p.installed("log").rfind("-rw-r--r--       5000 1-first\n", 0), 0u);
  EXPECT_EQ(p.installed("log").find("ok\n"), std::string::npos);
}

TEST(Install, ForgedStreamsInstallOnlyWithinTheRules) {
  Product p;
  const struct { std::string table_name; ForgedEntry entry; int status; } cases[] = {
      {"dir/ok", {"dir/ok", "forged but sound", 0644, "", ""}, 0},
      {"left-over", {"left-over", "data", 0644, "", std::string(200000, '\0')}, 255},  // > 8192 bytes after the data
      {"victim", {"other", "payload", 0644, "", ""}, 255},
      {"../escape", {"../escape", "payload", 0644, "", ""}, 255},
      {"link", {"link", "", 0644, "../escape", ""}, 255},
  };
  for (const auto& c : cases) {
    const ForgedStream stream = forge_stream(c.entry, product_key());
    TicToc toc;
    TicTocEntry e = make_entry(toc.options.option_mask("o"), 0, c.entry.contents.size());
    std::copy(stream.mac.begin(), stream.mac.end(), e.mac);
    toc.file_map[c.table_name] = e;
    write_test_archive(p.dir / "f.tic", toc, true, {{c.table_name, stream.stored}});
    write_test_archive_mac(p.dir / "f.tic", product_key());
    EXPECT_EQ(p.kestrel({"install", "-d", "target", "-o", "o", "../f.tic"}).status, c.status) << c.table_name;
  }
  EXPECT_EQ(p.installed("dir/ok"), "forged but sound");
  for (const char* path : {"target/victim", "target/other", "escape", "target/link"})
    EXPECT_FALSE(file_exists(p.dir / path)) << path;
}

}  // namespace
