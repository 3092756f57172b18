// install through the real binary, on archives built by tictool (and a few
// forged by hand): the installed tree, the log, the progress line, the
// backup tree, and the ways an installation fails.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "support/archive_writer.h"
#include "support/run.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "tic/archive/tic.h"

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

  // Builds |archive| from the files |names| below src/, all of option "o".
  void build(const std::string& archive, const std::vector<std::string>& names) const {
    std::string list;
    for (const std::string& name : names) list += name + ";o;;0;0;0\n";
    write_file(dir / (archive + ".list"), list);
    std::vector<std::string> args{"build", "-C", dir / "src", dir / (archive + ".list"), dir / archive};
    args.insert(args.end(), names.begin(), names.end());
    ASSERT_EQ(run_tictool(args).err, "");
  }

  RunResult kestrel(const std::vector<std::string>& args) const { return run_kestrel(args, {dir.path(), {}, {}}); }

  std::string installed(const std::string& name) const { return read_file(dir / ("target/" + name)); }
};

TEST(Install, InstallsTheSetsTreeWithLogAndBackupTree) {
  Product p;
  p.add("bin/server", "#!/bin/sh\necho server\n", 0755);
  p.add("etc/server.conf", "port=5000\n", 0600);
  p.add("lib/libx.so.1", "library");
  ASSERT_EQ(::symlink("libx.so.1", (p.dir / "src/lib/libx.so").c_str()), 0);
  std::string big;  // bzip2 cannot shrink it below several 8192-byte blocks
  for (unsigned seed = 7; big.size() < 100000;) big += static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
  p.add("share/doc/big.dat", big);
  p.add("share/extra.txt", "from the second archive\n");
  p.build("base.tic", {"bin/server", "etc/server.conf", "lib/libx.so", "lib/libx.so.1", "share/doc/big.dat"});
  p.build("extra.tic", {"share/extra.txt"});
  write_file(p.dir / "target/etc/server.conf", "edited locally");

  // Relative archive, log and backup names resolve inside the install directory.
  const RunResult r = p.kestrel({"install", "-d", "target", "--log", "install.log", "--backup", "saved/1", "-o", "o",
                                 "../base.tic", "../extra.tic"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string name : {"bin/server", "etc/server.conf", "lib/libx.so.1", "share/doc/big.dat",
                                 "share/extra.txt"}) {
    EXPECT_EQ(p.installed(name), read_file(p.dir / ("src/" + name))) << name;
    EXPECT_EQ(fs::status(p.dir / ("target/" + name)).permissions(),
              fs::status(p.dir / ("src/" + name)).permissions() & ~fs::perms(0022)) << name;
  }
  EXPECT_EQ(fs::read_symlink(p.dir / "target/lib/libx.so"), "libx.so.1");
  EXPECT_EQ(p.installed("saved/1/etc/server.conf"), "edited locally");
  EXPECT_EQ(p.installed("saved/1/share/doc/big.dat"), "created as share/doc/big.dat\n");
  // The first streams of both archives lie at 104: the names decide.
  EXPECT_EQ(p.installed("install.log"),
            "-rwxr-xr-x         22 bin/server\n-rw-r--r--         24 share/extra.txt\n"
            "-rw-------         10 etc/server.conf\nlrwxrwxrwx          9 lib/libx.so\n"
            "-rw-r--r--          7 lib/libx.so.1\n-rw-r--r--     100000 share/doc/big.dat\nok\n");
}

// Three files of 5000 bytes: the failures first, then the progress line of a
// whole installation.
TEST(Install, FailsOnDamagedArchivesAndShowsProgressOtherwise) {
  Product p;
  for (const std::string name : {"1-first", "2-second", "3-third"}) p.add(name, std::string(5000, name[0]));
  p.build("p.tic", {"1-first", "2-second", "3-third"});
  const std::string path = p.dir / "p.tic";
  const TicTocEntry second = Tic(path.c_str(), false, nullptr, 0).get_toc().file_map.at("2-second");
  const std::string good = read_file(path);

  // A changed byte of the tables fails validation before anything is written;
  // one of the second stream fails after the first file, and no "ok" follows.
  for (const uint64_t at : {uint64_t{good.size() - 1}, second.data_offset + second.stored_length / 2}) {
    std::string bytes = good;
    bytes[at] ^= 0x40;
    write_file(path, bytes);
    EXPECT_EQ(p.kestrel({"install", "-d", "target", "-l", "log", "-o", "o", "../p.tic"}).status, 255);
    EXPECT_EQ(p.installed("log").substr(0, 30), at == good.size() - 1 ? "" : "-rw-r--r--       5000 1-first\n");
    EXPECT_EQ(p.installed("log").find("ok\n"), std::string::npos);
  }
  EXPECT_EQ(p.installed("1-first"), read_file(p.dir / "src/1-first"));
  write_file(path, good);

  // Without -o nothing is selected: no progress line, not even the closing one.
  RunResult r = p.kestrel({"install", "-d", "target", "-l", "log", "../p.tic"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(p.installed("log"), "ok\n");
  r = p.kestrel({"install", "-d", "target", "-o", "o", "../p.tic"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, " 33% 1-first\r 66% 2-second\r100% 3-third \r            \n");
  EXPECT_EQ(r.err, "") << "no log lines anywhere without -l";
}

// A sound forged stream installs; a name leaving the install directory does
// not, nor does a hard link, even to a file inside it.
TEST(Install, ForgedStreamsInstallOnlyWithinTheInstallDirectory) {
  Product p;
  for (const ForgedEntry& entry : {ForgedEntry{"dir/ok", "forged but sound", 0644, "", ""},
                                   ForgedEntry{"../escape", "payload", 0644, "", ""},
                                   ForgedEntry{"link", "", 0644, "dir/ok", ""}}) {
    const ForgedStream stream = forge_stream(entry, product_key());
    TicToc toc;
    TicTocEntry& e = toc.file_map[entry.pathname] = make_entry(toc.options.option_mask("o"), 0, entry.contents.size());
    std::copy(stream.mac.begin(), stream.mac.end(), e.mac);
    write_test_archive(p.dir / "f.tic", toc, true, {{entry.pathname, stream.stored}});
    write_test_archive_mac(p.dir / "f.tic", product_key());
    const int status = p.kestrel({"install", "-d", "target", "-o", "o", "../f.tic"}).status;
    EXPECT_EQ(status, entry.pathname == "dir/ok" ? 0 : 255) << entry.pathname;
  }
  EXPECT_EQ(p.installed("dir/ok"), "forged but sound");
  for (const char* path : {"escape", "target/link"}) EXPECT_FALSE(file_exists(p.dir / path)) << path;
}

}  // namespace

namespace {

// A directory the list file names is stored as a directory entry: install
// makes it with its mode, leaves one that is there as it is, and keeps no
// marker for it.
TEST(Install, DirectoryEntriesAreMadeOrLeftInPlace) {
  Product p;
  fs::create_directories(p.dir / "src/var/empty");
  ::chmod((p.dir / "src/var/empty").c_str(), 0750);
  p.add("var/file", "data");
  p.build("d.tic", {"var/empty", "var/file"});
  RunResult r = p.kestrel({"install", "-d", "target", "-b", "saved", "-o", "o", "../d.tic"});
  ASSERT_EQ(std::tie(r.status, r.err), std::make_tuple(0, std::string()));
  EXPECT_TRUE(fs::is_directory(p.dir / "target/var/empty"));
  EXPECT_EQ(fs::status(p.dir / "target/var/empty").permissions(), fs::perms(0750));
  EXPECT_FALSE(file_exists(p.dir / "target/saved/var/empty"));
  write_file(p.dir / "target/var/empty/kept", "the administrator's");
  r = p.kestrel({"install", "-d", "target", "-b", "saved-2", "-o", "o", "../d.tic"});
  EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(0, std::string()));
  EXPECT_EQ(p.installed("var/empty/kept"), "the administrator's");
}

}  // namespace
