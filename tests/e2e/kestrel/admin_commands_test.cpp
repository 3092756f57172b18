// verify, remove and restore through the real binary: an installed product
// checked against its archives, taken away, and an installation undone from
// its backup tree.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <tuple>

#include "support/archive_writer.h"
#include "support/run.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"
#include "platform/fd.h"
#include "tic/archive/tic.h"

namespace {

namespace fs = std::filesystem;

const std::string kSample = SAMPLE_DIR;
const std::string kBanner = "Tarnvale Install Utility Version 17.0.11.7254\n";

void write_mode(const std::string& path, const std::string& bytes, mode_t mode) {
  write_file(path, bytes);
  ::chmod(path.c_str(), mode);
}

// The sample product as a set of two archives beside the install directory
// target/, which holds what an administrator had there before.
struct Site {
  TempDir dir;
  const std::string target = dir / "target";

  Site() {
    const RunOptions here{dir.path(), {}, {}};
    EXPECT_EQ(run_tictool({"build", "-C", kSample + "/tree", kSample + "/server.list", "server.tic", "#server.ctl",
                           "bin/tarnserve", "etc", "lib", "share/doc/README", "share/doc/server.txt"}, here).err, "");
    EXPECT_EQ(run_tictool({"build", "-a", "-C", kSample + "/tree", kSample + "/client.list", "client.tic",
                           "#client.ctl", "bin/tarnsql", "share/doc/client.txt"}, here).err, "");
    fs::create_directories(target + "/var/empty");
    write_mode(target + "/etc/local.conf", "not the product's\n", 0600);
  }

  RunResult kestrel(const std::string& command, const std::vector<std::string>& switches,
                    const std::vector<std::string>& env = {}) const {
    std::vector<std::string> args{command, "-d", "target"};
    args.insert(args.end(), switches.begin(), switches.end());
    if (command != "restore") {
      args.push_back("../server.tic");
      args.push_back("../client.tic");
    }
    return run_kestrel(args, {dir.path(), env, {}, 60});
  }

  void install(const std::vector<std::string>& switches = {}) const {
    std::vector<std::string> all{"-o", "*"};
    all.insert(all.end(), switches.begin(), switches.end());
    ASSERT_EQ(kestrel("install", all).status, 0);
  }

  std::string at(const std::string& name) const { return target + "/" + name; }
};

TEST(Verify, ACleanInstallMatchesAndEachChangeIsNamedWithoutWritingAnything) {
  Site s;
  s.install();
  RunResult r = s.kestrel("verify", {"-o", "*"});
  EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(0, std::string(), std::string()));

  std::string conf = read_file(s.at("etc/tarnserve.conf"));
  conf[conf.size() / 2] ^= 1;
  write_file(s.at("etc/tarnserve.conf"), conf);
  ::chmod(s.at("bin/tarnsql").c_str(), 0700);
  fs::remove(s.at("share/doc/README"));
  fs::remove(s.at("bin/tarnserve"));
  fs::create_symlink("tarnsql", s.at("bin/tarnserve"));
  fs::remove(s.at("lib/libtarn.so"));
  fs::create_symlink("libtarn.so.2", s.at("lib/libtarn.so"));
  write_file(s.at("etc/local.conf"), "not in the archives, not compared");

  const auto before = snapshot(s.target, a_snapshot::kAllTimes);
  for (const char* jobs : {"KESTREL_JOBS=1", "KESTREL_JOBS=3"}) {
    r = s.kestrel("verify", {"-o", "*"}, {jobs});
    EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(1, std::string())) << jobs;
    EXPECT_EQ(r.out,
              "type bin/tarnserve\nmode bin/tarnsql\ncontent etc/tarnserve.conf\ntarget lib/libtarn.so\n"
              "missing share/doc/README\n")
        << jobs;
  }
  // Only the selected files: the client's, the library's stream coming from
  // the other archive.
  r = s.kestrel("verify", {"-o", "client"});
  EXPECT_EQ(r.out, "mode bin/tarnsql\ntarget lib/libtarn.so\n");
  EXPECT_EQ(snapshot(s.target, a_snapshot::kAllTimes), before);
}

// Archives that cannot be trusted make the command fail; nothing is said
// about the installed files.
TEST(Verify, AnArchiveOrStreamThatFailsIsAFailureNotADifference) {
  TempDir dir;
  fs::create_directory(dir / "target");
  write_forged_archive(dir / "f.tic", {{"d/f", "contents"}}, product_key());
  ASSERT_EQ(run_kestrel({"install", "-d", "target", "-o", "o", "../f.tic"}, {dir.path(), {}, {}}).err, "");
  std::string bytes = read_file(dir / "f.tic");
  bytes.back() ^= 1;
  write_file(dir / "tampered.tic", bytes);
  // The same stream under tables that carry another MAC for it.
  TicToc toc = Tic((dir / "f.tic").c_str(), false, nullptr, 0).get_toc();
  const TicTocEntry e = toc.file_map.at("d/f");
  toc.file_map.at("d/f").mac[0] ^= 1;
  const std::string stream = read_file(dir / "f.tic").substr(e.data_offset, e.stored_length);
  write_test_archive(dir / "bad-mac.tic", toc, true, {{"d/f", stream}});
  write_test_archive_mac(dir / "bad-mac.tic", product_key());

  const struct { std::string command, archive, err; } cases[] = {
      {"verify", "../tampered.tic", "kestrel: verify: ../tampered.tic: archive does not match its MAC\n"},
      {"verify", "../bad-mac.tic", "kestrel: verify: d/f: stream does not match its MAC\n"},
      {"remove", "../bad-mac.tic", "kestrel: remove: d/f: stream does not match its MAC\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = run_kestrel({c.command, "-d", "target", "-o", "o", c.archive}, {dir.path(), {}, {}});
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(255, std::string(), c.err)) << c.archive;
  }
  EXPECT_EQ(read_file(dir / "target/d/f"), "contents") << "remove removes nothing when a stream fails";
}

TEST(Remove, RemovesWhatMatchesAndKeepsWhatWasChanged) {
  // Removed to the tree as it was before the install: the administrator's
  // directories and files stay, and so does share/, which an empty
  // directory of theirs keeps from being emptied.
  Site s;
  fs::create_directories(s.at("share/empty"));
  const auto before = snapshot(s.target);
  s.install();
  RunResult r = s.kestrel("remove", {"-o", "*"});
  EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(0, std::string(), std::string()));
  EXPECT_EQ(snapshot(s.target), before);

  // A changed file stays, and its directory with it; a file whose
  // permission bits changed is removed all the same.
  s.install();
  write_file(s.at("share/doc/README"), "my notes");
  ::chmod(s.at("bin/tarnsql").c_str(), 0700);
  r = s.kestrel("remove", {"-o", "*"});
  EXPECT_EQ(std::tie(r.status, r.out, r.err),
            std::make_tuple(1, std::string(), std::string("kestrel: remove: kept changed file share/doc/README\n")));
  const auto after = snapshot(s.target);
  auto expected = before;
  for (const char* kept : {"share/doc", "share/doc/README"}) expected[kept] = after.at(kept);
  EXPECT_EQ(after, expected);
}

// A directory of the install directory replaced by a link: its files are
// neither read nor removed through it.
TEST(Remove, NeverThroughASymbolicLink) {
  TempDir dir;
  fs::create_directory(dir / "target");
  write_forged_archive(dir / "f.tic", {{"d/f", "contents"}}, product_key());
  ASSERT_EQ(run_kestrel({"install", "-d", "target", "-o", "o", "../f.tic"}, {dir.path(), {}, {}}).err, "");
  fs::rename(dir / "target/d", dir / "outside");
  fs::create_directory_symlink(dir / "outside", dir / "target/d");
  RunResult r = run_kestrel({"verify", "-d", "target", "-o", "o", "../f.tic"}, {dir.path(), {}, {}});
  EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(1, std::string("missing d/f\n"), std::string()));
  r = run_kestrel({"remove", "-d", "target", "-o", "o", "../f.tic"}, {dir.path(), {}, {}});
  EXPECT_EQ(std::tie(r.status, r.err),
            std::make_tuple(255, std::string("kestrel: remove: d/f: refusing to remove through symbolic link d\n")));
  EXPECT_EQ(read_file(dir / "outside/f"), "contents");
}

// A directory the installation made, replaced by a link since: the file
// created in it is not removed through the link, and its marker stays.
TEST(Restore, NeverThroughASymbolicLink) {
  TempDir dir;
  fs::create_directory(dir / "target");
  write_forged_archive(dir / "f.tic", {{"d/f", "contents"}}, product_key());
  ASSERT_EQ(run_kestrel({"install", "-d", "target", "-b", "backup", "-o", "o", "../f.tic"}, {dir.path(), {}, {}}).err,
            "");
  fs::rename(dir / "target/d", dir / "outside");
  fs::create_directory_symlink(dir / "outside", dir / "target/d");
  const RunResult r = run_kestrel({"restore", "-d", "target", "-b", "backup"}, {dir.path(), {}, {}});
  EXPECT_EQ(std::tie(r.status, r.err),
            std::make_tuple(255, std::string("kestrel: restore: d/f: refusing to write through symbolic link d\n")));
  EXPECT_EQ(read_file(dir / "outside/f"), "contents");
  EXPECT_EQ(read_file(dir / "target/backup/d/f"), "created as d/f\n");
}

TEST(Restore, AFirstInstallIsUndoneExactly) {
  Site s;
  write_mode(s.at("etc/tarnserve.conf"), "edited\n", 0600);
  write_mode(s.at("share/doc/README"), "old readme\n", 0640);
  write_file(s.at("bin/tarnsql/plugins/old.so"), "a directory where the archive has a file");
  write_file(s.at("lib/libtarn.so"), "a file where the archive has a link");
  const auto before = snapshot(s.target);
  s.install({"-b", "backup"});
  ASSERT_EQ(read_file(s.at("backup/share/doc/server.txt")), "created as share/doc/server.txt\n");
  const RunResult r = s.kestrel("restore", {"-b", "backup"});
  EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(0, std::string(), std::string()));
  EXPECT_EQ(snapshot(s.target), before);
}

TEST(Restore, AnInstallOverAnEarlierOneGoesBackToTheEarlier) {
  TempDir dir;
  fs::create_directory(dir / "target");
  write_forged_archive(dir / "v1.tic",
                       {{"a/x", "one"}, {"a/y", "why"}, {"b/z", "zed"}, {"bin/run", "#!/bin/sh\n", 0755}},
                       product_key());
  ForgedEntry link("l", "", 0777);
  link.type = 0120000;
  link.symlink = "b/z";
  write_forged_archive(dir / "v2.tic",
                       {{"a/x", "ONE"}, {"b/z", "zed", 0600}, {"c/new", "new"}, {"bin/run", "#!/bin/sh\n", 0700}, link},
                       product_key());
  ASSERT_EQ(run_kestrel({"install", "-d", "target", "-o", "o", "../v1.tic"}, {dir.path(), {}, {}}).err, "");
  const auto earlier = snapshot(dir / "target");
  const std::vector<std::string> over{"install", "-d", "target", "-b", "../backup-2", "-o", "o", "../v2.tic"};
  ASSERT_EQ(run_kestrel(over, {dir.path(), {}, {}}).err, "");
  ASSERT_NE(snapshot(dir / "target"), earlier);
  const RunResult r = run_kestrel({"restore", "-d", "target", "-b", "../backup-2"}, {dir.path(), {}, {}});
  EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(0, std::string()));
  EXPECT_EQ(snapshot(dir / "target"), earlier);
  EXPECT_FALSE(file_exists(dir / "backup-2"));
}

// A backup tree as an install leaves it, made by hand so that it can be
// large: killed at any moment, restore finishes when run again.
TEST(Restore, AnInterruptedRestoreFinishesWhenRunAgain) {
  int interrupted = 0;
  constexpr int kFiles = 800;
  for (const unsigned ms : {40u, 80u, 150u, 300u}) {
    TempDir dir;
    const std::string target = dir / "target";
    fs::create_directories(target + "/kept");
    std::map<std::string, std::string> before;
    for (int i = 0; i < kFiles; ++i) {
      const std::string name = "d" + std::to_string(i % 20) + "/f" + std::to_string(i);
      write_file(target + "/" + name, "installed " + name);
      write_file(target + "/backup/" + name, i % 2 ? "old " + name : "created as " + name + "\n");
    }
    write_file(target + "/kept/file", "untouched");
    RunResult r = run_kestrel({"restore", "-d", "target", "-b", "backup"}, {dir.path(), {}, {}, 60, ms});
    int left = 0;
    if (file_exists(target + "/backup"))
      for (const auto& entry : fs::recursive_directory_iterator(target + "/backup")) left += entry.is_regular_file();
    const bool midway = r.status == -1 && left > 0 && left < kFiles;
    interrupted += midway;
    r = run_kestrel({"restore", "-d", "target", "-b", "backup"}, {dir.path(), {}, {}, 60});
    if (left > 0) {
      EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(0, std::string())) << ms << " ms";
    }
    for (int i = 0; i < kFiles; ++i) {
      const std::string name = "d" + std::to_string(i % 20) + "/f" + std::to_string(i);
      if (i % 2) {
        EXPECT_EQ(read_file(target + "/" + name), "old " + name) << name << " after " << ms << " ms";
      } else {
        EXPECT_FALSE(file_exists(target + "/" + name)) << name << " after " << ms << " ms";
      }
    }
    EXPECT_FALSE(file_exists(target + "/backup")) << ms << " ms";
    EXPECT_EQ(read_file(target + "/kept/file"), "untouched");
  }
  EXPECT_GT(interrupted, 0) << "no kill landed while restore was under way";
}

TEST(AdminCommands, UsageAndFailuresOfTheCommandAsAWhole) {
  TempDir dir;
  fs::create_directories(dir / "target/backup");
  fs::create_directory_symlink(dir / "target/backup", dir / "target/linked");
  write_file(dir / "target/file", "");
  const std::string here = fs::canonical(dir.path()).string();
  const struct { std::vector<std::string> args; std::string err; } cases[] = {
      {{"verify"}, "kestrel: verify: " + here + ": nothing is recorded for this install directory\n"},
      {{"REMOVE", "-o", "*"}, "kestrel: remove: *: an option text selects from archives: name them, or leave out -o\n"},
      {{"restore", "-d", "target"}, kBanner + "usage: restore -b <backup_dir> [-d <install_dir>]\n"},
      {{"restore", "-b", "backup", "extra"}, kBanner + "usage: restore -b <backup_dir> [-d <install_dir>]\n"},
      {{"verify", "-d", "missing", "x.tic"}, "kestrel: verify: missing: No such file or directory\n"},
      {{"remove", "-d", "target", "missing.tic"}, "kestrel: remove: missing.tic: No such file or directory\n"},
      {{"restore", "-d", "target", "-b", "missing"}, "kestrel: restore: missing: No such file or directory\n"},
      {{"restore", "-d", "target", "-b", "file"}, "kestrel: restore: file: Not a directory\n"},
      {{"restore", "-d", "target", "-b", "linked"},
       "kestrel: restore: linked: refusing to follow symbolic link linked\n"},
      {{"restore", "-d", "target", "-b", "."}, "kestrel: restore: .: backup directory holds the install directory\n"},
      {{"restore", "-d", "target/backup", "-b", ".."},
       "kestrel: restore: ..: backup directory holds the install directory\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = run_kestrel(c.args, {dir.path(), {}, {}});
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(255, std::string(), c.err))
        << testing::PrintToString(c.args);
  }
}

}  // namespace
