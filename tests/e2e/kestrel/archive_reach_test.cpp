// What an archive made by an independent writer cannot reach through the
// real binaries, whatever names it carries: the install log, the backup
// tree, a file under a second spelling of its path, more disk than its table
// says, the terminal and the log through control characters. And names that
// are not ASCII install byte for byte whatever the locale.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <tuple>

#include "support/archive_writer.h"
#include "support/command_output.h"
#include "support/run.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace {

namespace fs = std::filesystem;

// An install directory target/ holding an administrator's files, and
// outside/ beside it, which no command may touch.
struct Site {
  TempDir dir;
  Site() {
    write_file(dir / "target/a_victim", "the administrator's victim");
    write_file(dir / "target/a_conf", "the administrator's conf");
    write_file(dir / "outside/secret", "secret");
  }
  RunResult kestrel(const std::vector<std::string>& args, std::vector<std::string> env = {}) const {
    return run_kestrel(args, {dir.path(), env, {}, 30});
  }
  RunResult install(const std::vector<std::string>& switches, const std::string& archive = "../f.tic",
                    std::vector<std::string> env = {}) const {
    std::vector<std::string> args{"install", "-d", "target", "-o", "o"};
    args.insert(args.end(), switches.begin(), switches.end());
    args.push_back(archive);
    return kestrel(args, env);
  }
  void expect_outside_untouched() const {
    EXPECT_EQ(snapshot(dir / "outside").size(), 1u);
    EXPECT_EQ(read_file(dir / "outside/secret"), "secret");
  }
};

TEST(ArchiveReach, ALinkAtTheLogsPathIsRefusedWhateverTheSpelling) {
  Site s;
  write_forged_archive(s.dir / "link.tic", {forged_link("install.log", "../outside/secret")}, product_key());
  ASSERT_EQ(s.install({}, "../link.tic").status, 0);
  write_forged_archive(s.dir / "f.tic", {{"f", "data"}}, product_key());
  for (const std::string& log : {std::string("install.log"), std::string("./install.log"), s.dir / "target/install.log",
                                 std::string("../target/install.log")}) {
    const RunResult r = s.install({"-l", log});
    EXPECT_EQ(std::tie(r.status, r.err),
              std::make_tuple(255, "kestrel: install: " + log + ": refusing to write through symbolic link install.log\n"));
    s.expect_outside_untouched();
  }
  EXPECT_FALSE(file_exists(s.dir / "target/f"));
  // A log outside the install directory may be reached through the
  // administrator's own link.
  fs::create_directory(s.dir / "logs");
  fs::create_symlink(s.dir / "logs", s.dir / "logs-link");
  const RunResult r = s.install({"-l", "../logs-link/install.log"});
  EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(0, std::string()));
  EXPECT_EQ(last_line(read_file(s.dir / "logs/install.log")), "ok");
}

// The property scripts rely on: the log ends in "ok" exactly when the exit
// status is 0, even when an entry would take the log's place.
TEST(ArchiveReach, NoEntryTakesTheLogsPlace) {
  const std::string forged = "-rw-r--r--          4 f\nok\n";
  const struct { std::vector<ForgedEntry> entries; std::string log, err; } cases[] = {
      {{{"install.log", forged}}, "install.log",
       "kestrel: install: install.log: refusing to write over the install log\n"},
      {{{"./logs/install.log", forged}}, "logs/./install.log",
       "kestrel: install: ./logs/install.log: refusing to write over the install log\n"},
      {{{"logs", "a file where the log's directory is"}}, "logs/install.log",
       "kestrel: install: logs: refusing to replace the directory that holds the install log\n"},
  };
  for (const auto& c : cases) {
    for (const std::vector<std::string>& backup : {std::vector<std::string>{}, {"-b", "saved"}}) {
      Site s;
      fs::create_directories(s.dir / "target/logs");
      write_forged_archive(s.dir / "f.tic", c.entries, product_key());
      std::vector<std::string> switches{"-l", c.log};
      switches.insert(switches.end(), backup.begin(), backup.end());
      const RunResult r = s.install(switches);
      EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(255, c.err)) << c.log;
      const std::string log = read_file(s.dir / ("target/" + c.log));
      EXPECT_NE(last_line(log), "ok") << c.log;
      EXPECT_EQ(log.find("\nok"), std::string::npos) << log;
    }
  }
}

TEST(ArchiveReach, NoEntryReachesTheBackupTree) {
  for (const std::string& backup : {std::string("bak"), std::string("./bak/"), std::string("../target/bak")}) {
    Site s;
    const auto before = snapshot(s.dir / "target");
    write_forged_archive(s.dir / "f.tic",
                         {{"bak/a_conf", "the attacker's conf"}, {"bak/a_victim", "created as a_victim\n"},
                          {"a_new", "a file of the archive"}},
                         product_key());
    RunResult r = s.install({"-b", backup});
    EXPECT_EQ(std::tie(r.status, r.err),
              std::make_tuple(255, std::string("kestrel: install: bak/a_conf: refusing to write into the backup directory\n")))
        << backup;
    r = s.kestrel({"restore", "-d", "target", "-b", backup});
    EXPECT_EQ(r.status, 0) << backup << r.err;
    EXPECT_EQ(snapshot(s.dir / "target"), before) << backup;
  }
}

TEST(ArchiveReach, TwoSpellingsOfOnePathFailBeforeAnythingIsWritten) {
  const struct { std::string first, second; } aliases[] = {
      {"./x", "x"}, {"d//y", "d/y"}, {"d/./y", "d/y"}, {"d/y", "d/y/"}};
  for (const auto& a : aliases) {
    Site s;
    const auto before = snapshot(s.dir / "target");
    write_forged_archive(s.dir / "f.tic", {{"a_first", "first"}, {a.first, "one"}, {a.second, "two"}}, product_key());
    const RunResult r = s.install({"-b", "saved", "-l", "log"});
    EXPECT_EQ(std::tie(r.status, r.out, r.err),
              std::make_tuple(255, std::string(),
                              "kestrel: install: " + a.second + ": reaches the same path as " + a.first + "\n"));
    auto after = snapshot(s.dir / "target");
    EXPECT_EQ(read_file(s.dir / "target/log"), "");
    after.erase("log");
    EXPECT_EQ(after, before) << a.first;
  }
}

// A short archive whose stream holds far more than its table says: decoding
// stops, nothing stays behind, and verify does not call it a match.
TEST(ArchiveReach, AStreamIsHeldToItsEntrysSize) {
  Site s;
  ForgedEntry big("big", std::string(8 << 20, '\0'));
  big.listed_size = 21;
  write_forged_archive(s.dir / "f.tic", {big}, product_key());
  ASSERT_LT(fs::file_size(s.dir / "f.tic"), 4096u);
  const auto before = snapshot(s.dir / "target");
  RunResult r = s.install({"-l", "log"});
  EXPECT_EQ(std::tie(r.status, r.err),
            std::make_tuple(255, std::string("kestrel: install: big: stream holds 8388608 bytes, its entry 21\n")));
  auto after = snapshot(s.dir / "target");
  EXPECT_NE(last_line(read_file(s.dir / "target/log")), "ok");
  after.erase("log");
  EXPECT_EQ(after, before);
  r = s.kestrel({"space", "-o", "o", "f.tic"});
  EXPECT_EQ(r.out, "21\n");
  write_file(s.dir / "target/big", std::string(8 << 20, '\0'));
  r = s.kestrel({"verify", "-d", "target", "-o", "o", "../f.tic"});
  EXPECT_EQ(std::tie(r.status, r.out, r.err),
            std::make_tuple(255, std::string(), std::string("kestrel: verify: big: stream holds 8388608 bytes, its entry 21\n")));
}

// True when |text| holds a control character other than the progress
// line's own carriage returns and line breaks.
bool holds_foreign_control(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\r' && c != '\n') || c == 0x7f || (c == 0xc2 && i + 1 < text.size() &&
                                                              (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80))
      return true;
  }
  return false;
}

TEST(ArchiveReach, NamesWithControlCharactersAreRefusedAndNeverShownRaw) {
  const struct { std::string name, shown; } names[] = {
      {"z\nok", "z\\x0aok"},
      {"z\r100% done", "z\\x0d100% done"},
      {"z\x1b[2J", "z\\x1b[2J"},
      {"z\xc2\x9b" "31m", "z\\xc2\\x9b31m"},
      {"z\x7f", "z\\x7f"},
  };
  for (const auto& n : names) {
    Site s;
    write_forged_archive(s.dir / "f.tic", {{"a_first", "fine"}, {n.name, "evil"}}, product_key());
    const RunResult r = s.install({"-l", "log"});
    EXPECT_EQ(std::tie(r.status, r.err),
              std::make_tuple(255, "kestrel: install: " + n.shown + ": control character in name\n"));
    EXPECT_FALSE(holds_foreign_control(r.out)) << testing::PrintToString(r.out);
    EXPECT_NE(r.out.find(n.shown), std::string::npos) << r.out;
    const std::string log = read_file(s.dir / "target/log");
    EXPECT_FALSE(holds_foreign_control(log)) << log;
    EXPECT_EQ(log, "-rw-r--r--          4 a_first\n-rw-r--r--          4 " + n.shown + "\n");
    EXPECT_FALSE(file_exists(s.dir / ("target/" + n.name)));
    EXPECT_EQ(run_kestrel({"list", "-o", "o", "f.tic"}, {s.dir.path(), {}, {}}).out, "a_first\n" + n.shown + "\n");
  }
  // tictool build names every such file before it compresses anything.
  TempDir dir;
  write_file(dir / "tree/fine", "fine");
  write_file(dir / "tree/c\x1b[2J", "evil");
  write_file(dir / "tree/e\x7f", "evil");
  write_file(dir / "list", "fine;o;;0;0;0\nc\x1b[2J;o;;0;0;0\ne\x7f;o;;0;0;0\n");
  const RunResult r = run_tictool({"build", "-C", "tree", "list", "out.tic", "."}, {dir.path(), {}, {}});
  EXPECT_EQ(std::tie(r.status, r.err),
            std::make_tuple(1, std::string("tictool: c\\x1b[2J: control character in name; entry names are relative to "
                                           "the install directory\ntictool: e\\x7f: control character in name; entry "
                                           "names are relative to the install directory\n")));
  EXPECT_FALSE(file_exists(dir / "out.tic"));
}

// UTF-8 and other bytes, in any locale the caller has.
TEST(ArchiveReach, NamesThatAreNotAsciiInstallByteForByte) {
  const std::vector<std::string> names{"caf\xc3\xa9.txt", "caf\xe9.txt", "\xe6\x97\xa5\xe6\x9c\xac/\xe8\xaa\x9e"};
  for (const char* locale : {"LC_ALL=C", "LC_ALL=C.UTF-8", "LC_ALL=POSIX"}) {
    TempDir dir;
    std::string list;
    for (const std::string& name : names) {
      write_file(dir / ("tree/" + name), "bytes of " + name);
      list += name + ";o;;0;0;0\n";
    }
    write_file(dir / "list", list);
    RunResult r = run_tictool({"build", "-C", "tree", "list", "built.tic", "."}, {dir.path(), {locale}, {"LANG"}});
    ASSERT_EQ(std::tie(r.status, r.err), std::make_tuple(0, std::string())) << locale;
    std::vector<ForgedEntry> forged;
    for (const std::string& name : names) forged.push_back({name, "bytes of " + name});
    write_forged_archive(dir / "forged.tic", forged, product_key());
    for (const char* archive : {"built.tic", "forged.tic"}) {
      const std::string target = std::string("target-") + archive;
      fs::create_directory(dir / target);
      r = run_kestrel({"install", "-d", target, "-o", "o", "-l", "log", "../" + std::string(archive)},
                      {dir.path(), {locale}, {"LANG"}});
      EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(0, std::string())) << locale << " " << archive;
      for (const std::string& name : names)
        EXPECT_EQ(read_file(dir / (target + "/" + name)), "bytes of " + name) << locale << " " << archive;
      EXPECT_EQ(last_line(read_file(dir / (target + "/log"))), "ok");
      r = run_kestrel({"verify", "-d", target, "-o", "o", "../" + std::string(archive)}, {dir.path(), {locale}, {}});
      EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(0, std::string(), std::string()));
    }
  }
}

}  // namespace
