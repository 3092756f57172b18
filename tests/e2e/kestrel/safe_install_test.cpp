// install against hostile and damaged archives and a hostile install
// directory, through the real binary: nothing is written outside the install
// directory, no file that was there is lost, and every failure says why in
// one line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <tuple>

#include "support/archive_writer.h"
#include "support/command_output.h"
#include "support/run.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "install/install_directory.h"
#include "tic/archive/tic.h"

namespace {

namespace fs = std::filesystem;

// Every path below |root| (links not followed), with the temporaries of
// installs among them counted apart.
std::vector<std::string> tree_of(const std::string& root, int* temporaries = nullptr) {
  std::vector<std::string> out;
  if (temporaries) *temporaries = 0;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    out.push_back(fs::relative(it->path(), root).string());
    if (temporaries && it->path().filename().string().rfind(InstallDirectory::kTemporaryPrefix, 0) == 0)
      ++*temporaries;
  }
  std::sort(out.begin(), out.end());
  return out;
}

// An install directory target/, and outside/ beside it, which no install
// may touch.
struct Site {
  TempDir dir;
  Site() {
    fs::create_directory(dir / "target");
    write_file(dir / "outside/precious", "precious");
  }
  RunResult install(const std::vector<std::string>& extra, const std::string& archive = "../f.tic",
                    std::vector<std::string> env = {}) const {
    std::vector<std::string> args{"install", "-d", "target", "-o", "o"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(archive);
    return run_kestrel(args, {dir.path(), env, {}, 20});
  }
  void expect_outside_untouched() const {
    EXPECT_EQ(tree_of(dir / "outside"), std::vector<std::string>{"precious"});
    EXPECT_EQ(read_file(dir / "outside/precious"), "precious");
  }
  int temporaries() const {
    int count;
    tree_of(dir / "target", &count);
    return count;
  }
};

TEST(SafeInstall, NothingIsWrittenThroughASymbolicLink) {
  // A link the archive itself installs, then a file below it.
  for (const std::vector<std::string>& backup : {std::vector<std::string>{}, {"-b", "saved"}}) {
    Site s;
    write_forged_archive(s.dir / "f.tic", {forged_link("a", s.dir / "outside"), ForgedEntry("a/precious", "evil")},
                         product_key());
    const RunResult r = s.install(backup);
    EXPECT_EQ(std::tie(r.status, r.err),
              std::make_tuple(255, std::string("kestrel: install: a/precious: refusing to write through symbolic link a\n")));
    s.expect_outside_untouched();
    EXPECT_EQ(s.temporaries(), 0);
  }
  // A link left in the install directory by anyone, deeper down; with a
  // backup the outside file is not moved into the backup tree either.
  for (const std::vector<std::string>& backup : {std::vector<std::string>{}, {"-b", "saved"}}) {
    Site s;
    fs::create_directories(s.dir / "target/d");
    fs::create_directory_symlink(s.dir / "outside", s.dir / "target/d/e");
    write_forged_archive(s.dir / "f.tic", {ForgedEntry("d/e/precious", "evil")}, product_key());
    const RunResult r = s.install(backup);
    EXPECT_EQ(r.err, "kestrel: install: d/e/precious: refusing to write through symbolic link d/e\n");
    s.expect_outside_untouched();
    EXPECT_FALSE(file_exists(s.dir / "target/saved/d/e/precious"));
  }
  // The install directory itself may be a link; a link at a file's own path
  // is replaced, not followed.
  Site s;
  fs::create_directory_symlink(s.dir / "target", s.dir / "elsewhere");
  fs::create_symlink(s.dir / "outside/precious", s.dir / "target/x");
  write_forged_archive(s.dir / "f.tic", {ForgedEntry("x", "new")}, product_key());
  const RunResult r = run_kestrel({"install", "-d", "elsewhere", "-o", "o", "../f.tic"}, {s.dir.path(), {}, {}, 20});
  EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(0, std::string()));
  EXPECT_EQ(read_file(s.dir / "target/x"), "new");
  EXPECT_FALSE(fs::is_symlink(s.dir / "target/x"));
  s.expect_outside_untouched();
}

TEST(SafeInstall, OnlyFilesDirectoriesAndLinksAreMade) {
  const std::pair<unsigned, const char*> types[] = {{0020000, "character device"}, {0060000, "block device"},
                                                     {0010000, "FIFO"}};
  for (const auto& [type, what] : types) {
    Site s;
    write_forged_archive(s.dir / "f.tic", {forged_node("node", type)}, product_key());
    const RunResult r = s.install({});
    EXPECT_EQ(std::tie(r.status, r.err),
              std::make_tuple(255, "kestrel: install: node: refusing to create a " + std::string(what) + "\n"));
    EXPECT_EQ(tree_of(s.dir / "target"), std::vector<std::string>{});
  }
}

// The file that was there stays, byte for byte, whatever goes wrong with
// the one that would replace it; no temporary is left behind.
TEST(SafeInstall, AReplacedFileSurvivesAFailure) {
  const std::string old_bytes = random_bytes(50000, 1), new_bytes = random_bytes(50000, 2);
  struct Case {
    const char* what;
    std::string err;
    std::function<void(const std::string& archive)> damage;
  };
  const Case cases[] = {
      {"a stream that decodes cleanly but does not match its MAC", "kestrel: install: f: stream does not match its MAC\n",
       [](const std::string& archive) { write_with_spoiled_stream_mac(archive, archive, "f"); }},
      {"a stream damaged in its middle", "",
       [](const std::string& archive) {
         const TicTocEntry e = Tic(archive.c_str(), false, nullptr, 0).get_toc().file_map.at("f");
         std::string bytes = read_file(archive);
         bytes[e.data_offset + e.stored_length / 2] ^= 0x10;
         write_file(archive, bytes);
       }},
  };
  for (const Case& c : cases) {
    Site s;
    write_file(s.dir / "target/f", old_bytes);
    write_forged_archive(s.dir / "f.tic", {ForgedEntry("f", new_bytes)}, product_key());
    c.damage(s.dir / "f.tic");
    const RunResult r = s.install({"-b", "saved"});
    EXPECT_EQ(r.status, 255) << c.what;
    if (!c.err.empty()) {
      EXPECT_EQ(r.err, c.err) << c.what;
    }
    EXPECT_EQ(r.err.rfind("kestrel: install: f: ", 0), 0u) << r.err;
    EXPECT_EQ(read_file(s.dir / "target/f"), old_bytes) << c.what;
    EXPECT_EQ(tree_of(s.dir / "target"), std::vector<std::string>{"f"}) << c.what << ": no backup, no temporary";
  }
}

// A small file system of its own, when this process may mount one.
class SmallDisk {
 public:
  SmallDisk(const std::string& path, const char* size) : path_(path) {
    fs::create_directories(path);
    mounted_ = geteuid() == 0 && mount("tmpfs", path.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

TEST(SafeInstall, AFullDiskLosesNothing) {
  Site s;
  SmallDisk disk(s.dir / "target", "256k");
  if (!disk.mounted()) GTEST_SKIP() << "needs root to mount a small file system";
  // Room for the new file only once the old one is gone: the check before
  // writing lets it through, and the disk fills while the new one is written.
  const std::string old_bytes = random_bytes(150 * 1024, 3);
  write_file(s.dir / "target/f", old_bytes);
  write_forged_archive(s.dir / "f.tic", {ForgedEntry("f", random_bytes(150 * 1024, 4))}, product_key());
  RunResult r = s.install({});
  EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(255, std::string("kestrel: install: f: No space left on device\n")));
  EXPECT_EQ(read_file(s.dir / "target/f"), old_bytes);
  EXPECT_EQ(s.temporaries(), 0);
  // More than the disk can hold at all is refused before anything is written.
  write_forged_archive(s.dir / "g.tic", {ForgedEntry("g", random_bytes(300 * 1024, 5))}, product_key());
  r = s.install({}, "../g.tic");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err.rfind("kestrel: install: target: not enough space: ", 0), 0u) << r.err;
  EXPECT_EQ(tree_of(s.dir / "target"), std::vector<std::string>{"f"});
}

// An install leaves each file either as it was or as the archive has it,
// never in between, wherever it is killed (killed_commands_test.cpp); the
// next install finishes the job and clears the temporaries of any install
// that no longer runs.
TEST(SafeInstall, AnInstallClearsTheTemporariesOfInstallsThatAreGone) {
  Site s;
  std::vector<ForgedEntry> files;
  for (int i = 0; i < 6; ++i) {
    const std::string name = "d" + std::to_string(i % 2) + "/file" + std::to_string(i);
    files.push_back(ForgedEntry(name, random_bytes(1 << 10, 10 + i)));
    write_file(s.dir / ("target/" + name), "old " + name);
  }
  write_forged_archive(s.dir / "f.tic", files, product_key());
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  write_file(s.dir / ("target/d0/" + std::string(InstallDirectory::kTemporaryPrefix) + std::to_string(gone) + "-7"),
             "left by a killed install");
  const RunResult r = s.install({"-b", "saved"});
  EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(0, std::string()));
  for (const ForgedEntry& f : files) EXPECT_EQ(read_file(s.dir / ("target/" + f.pathname)), f.contents);
  EXPECT_EQ(s.temporaries(), 0);
}

TEST(SafeInstall, ABackupPathThatDoesNotFitFailsTheFile) {
  Site s;
  // A name the tables can hold (up to 1023 bytes) whose backup path cannot.
  std::string name;
  while (name.size() < 990) name += "directory-name-of-some-length/";
  name += std::string(1015 - name.size(), 'f');
  write_forged_archive(s.dir / "f.tic", {ForgedEntry(name, "data")}, product_key());
  const RunResult r = s.install({"-b", "backup-directory"});
  EXPECT_EQ(std::tie(r.status, r.err),
            std::make_tuple(255, "kestrel: install: " + name + ": backup path longer than 1023 bytes\n"));
  EXPECT_FALSE(file_exists(s.dir / ("target/" + name)));
  EXPECT_FALSE(file_exists(s.dir / "target/backup-directory"));
}

// Failures of the command as a whole: one line each, nothing installed.
TEST(SafeInstall, EachFailureOfTheCommandSaysWhy) {
  Site s;
  write_forged_archive(s.dir / "f.tic", {ForgedEntry("f", "data")}, product_key());
  std::string tampered = read_file(s.dir / "f.tic");
  tampered.back() ^= 1;
  write_file(s.dir / "tampered.tic", tampered);
  ASSERT_EQ(mkfifo((s.dir / "fifo.tic").c_str(), 0644), 0);
  const struct { std::vector<std::string> args; std::string err; } cases[] = {
      {{"install", "-d", "missing", "-o", "o", "f.tic"}, "kestrel: install: missing: No such file or directory\n"},
      {{"install", "-l", "no/dir/log", "-o", "o", "f.tic"}, "kestrel: install: no/dir/log: No such file or directory\n"},
      {{"install", "-d", "target", "-o", "o", "../tampered.tic"},
       "kestrel: install: ../tampered.tic: archive does not match its MAC\n"},
      {{"install", "-o", "o", "fifo.tic"}, "kestrel: install: fifo.tic: not a regular file\n"},
      {{"install", "-o", "o", "f.tic", "missing.tic"}, "kestrel: install: missing.tic: No such file or directory\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = run_kestrel(c.args, {s.dir.path(), {}, {}, 10});
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(255, std::string(), c.err))
        << testing::PrintToString(c.args);
  }
  EXPECT_EQ(tree_of(s.dir / "target"), std::vector<std::string>{});
}

}  // namespace
