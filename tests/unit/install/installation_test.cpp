// The installation object in process, without the binary: what it tells its
// command, what it writes, how an upgrade is planned, and how a run that
// did not end is taken back from its journal.
#include "install/installation.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "install/journal.h"
#include "install/record_keeping.h"
#include "install/record_store.h"
#include "platform/provider.h"
#include "support/archive_writer.h"
#include "support/fresh_error_word.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Everything an installation tells, as lines.
class Told : public InstallationEvents {
 public:
  void waiting(const std::string& holder) override { lines.push_back("waiting " + holder); }
  void failed(const a_failure& failure) override { lines.push_back("failed " + failure.subject + ": " + failure.text()); }
  void noted(const a_failure& failure) override { lines.push_back("noted " + failure.subject + ": " + failure.text()); }
  void begin(unsigned long long total) override { lines.push_back("begin " + std::to_string(total)); }
  void file(const std::string& name, unsigned long long) override { lines.push_back("file " + name); }
  void end() override { lines.push_back("end"); }
  void kept_changed(const std::string& path, bool beside) override {
    lines.push_back("kept " + path + (beside ? " beside" : ""));
  }
  std::vector<std::string> lines;
};

// A check that passes, or refuses at finish().
class Check : public ArchiveCheck {
 public:
  explicit Check(bool pass = true) : pass_(pass) {}
  Outcome start(Tic&) override { return Outcome(); }
  Outcome finish() override {
    if (pass_) return Outcome();
    a_failure refused;
    refused.step = a_step{1, "refused"};
    refused.subject = "a.tic";
    refused.cause = "no signature";
    return refused;
  }

 private:
  bool pass_;
};

// An install directory "target", a state directory, and archives of two
// releases, in a fresh directory that is the current one.
class InstallationTest : public FreshErrorWord {
 protected:
  InstallationTest() : cwd_(dir_.path()) {
    fs::create_directory(dir_ / "target");
    setenv("KESTREL_STATE_DIR", (dir_ / "state").c_str(), 1);
    write_forged_archive(dir_ / "v1.tic", {{"a", "one"}, {"d/b", "bee"}, {"d/c", "sea"}}, product_key());
    write_forged_archive(dir_ / "v2.tic", {{"a", "ONE"}, {"d/b", "bee"}, {"e", "new"}}, product_key());
  }
  ~InstallationTest() override { unsetenv("KESTREL_STATE_DIR"); }

  // Runs |work| on an installation of |command| entered into target.
  Outcome in_target(const char* command, Told& told, const std::function<Outcome(Installation&)>& work) {
    const ScopedWorkingDirectory back(dir_.path());
    Installation installation(command, told);
    if (Outcome entered = installation.enter("target", true); !entered) return entered;
    return work(installation);
  }
  Outcome install(const std::string& archive, Told& told, bool pass = true) {
    Check check(pass);
    return in_target("install", told, [&](Installation& i) { return i.install({{"../" + archive}, "o", "", ""}, check); });
  }
  an_install_record record() {
    Told told;
    an_install_record out;
    const Outcome read = in_target("status", told, [&](Installation& i) {
      Result<an_install_record> r = i.record();
      if (r) out = r.value();
      return r.outcome();
    });
    return read ? out : an_install_record{};
  }
  std::string state_path(const std::string& suffix = "") const {
    return dir_ / ("state/" + record_file_name(fs::canonical(dir_ / "target").string()) + suffix);
  }

  TempDir dir_;
  ScopedWorkingDirectory cwd_;
};

TEST_F(InstallationTest, AnInstallTellsEachFileAndKeepsARecordWithNoJournalLeft) {
  Told told;
  ASSERT_TRUE(install("v1.tic", told).ok());
  EXPECT_EQ(told.lines, (std::vector<std::string>{"begin 9", "file a", "file d/b", "file d/c", "end"}));
  EXPECT_EQ(read_file(dir_ / "target/d/c"), "sea");
  const an_install_record r = record();
  EXPECT_EQ(r.files.size(), 3u);
  ASSERT_EQ(r.installs.size(), 1u);
  EXPECT_TRUE(r.installs[0].complete);
  EXPECT_FALSE(r.run.empty()) << "the record names the run that wrote it";
  EXPECT_FALSE(file_exists(journal_path(state_path())));
}

TEST_F(InstallationTest, ACheckThatFailsHoldsEveryFileBackAndIsToldOnce) {
  Told told;
  const Outcome done = install("v1.tic", told, false);
  ASSERT_FALSE(done.ok());
  EXPECT_EQ(done.failure().cause, "no signature");
  EXPECT_EQ(std::count(told.lines.begin(), told.lines.end(), "failed a.tic: no signature"), 1);
  EXPECT_FALSE(file_exists(dir_ / "target/a"));
  EXPECT_FALSE(file_exists(state_path())) << "nothing put in place, nothing recorded";
  EXPECT_FALSE(file_exists(journal_path(state_path())));
}

TEST_F(InstallationTest, AnUpgradeIsPlannedFileByFileAndKeepsWhatWasChanged) {
  Told told;
  ASSERT_TRUE(install("v1.tic", told).ok());
  write_file(dir_ / "target/d/b", "changed by hand");
  Check check;
  std::vector<std::string> plan;
  ASSERT_TRUE(in_target("upgrade", told, [&](Installation& i) {
                return i.plan_upgrade({{"../v2.tic"}, "", "", ""}, check, [&](const std::string& path, an_upgrade_action a) {
                  plan.push_back(std::string(upgrade_action_word(a)) + " " + path);
                });
              }).ok());
  EXPECT_EQ(plan, (std::vector<std::string>{"replace a", "keep-changed d/b", "remove d/c", "add e"}));
  Told upgraded;
  ASSERT_TRUE(in_target("upgrade", upgraded, [&](Installation& i) { return i.upgrade({{"../v2.tic"}, "", "", ""}, check); }).ok());
  EXPECT_EQ(upgraded.lines, (std::vector<std::string>{"begin 6", "file a", "file e", "end"}));
  EXPECT_FALSE(file_exists(dir_ / "target/d/c"));
  EXPECT_EQ(read_file(dir_ / "target/d/b"), "changed by hand");
  EXPECT_EQ(record().files.size(), 3u);
}

// Names that sort one way as bytes and another as text (upper case before
// lower, punctuation, UTF-8 and bytes that are no UTF-8 at all): the plan
// comes in byte order, and upgrade and verify find every file.
TEST_F(InstallationTest, NamesAreTakenInByteOrderWhateverTheyAre) {
  locale_initialise_tables();  // as kestrel starts: UTF-8 names pass unchanged
  const std::vector<std::string> names{"B", "a", "a-b", "a.b", "b/c", "\xc3\xa4", "\xff", "Z", "_"};
  std::vector<ForgedEntry> one, two;
  for (const std::string& name : names) {
    one.push_back({name, "one " + name});
    two.push_back({name, name[0] == 'a' ? "two " + name : "one " + name});
  }
  write_forged_archive(dir_ / "n1.tic", one, product_key());
  write_forged_archive(dir_ / "n2.tic", two, product_key());
  Told told;
  ASSERT_TRUE(install("n1.tic", told).ok()) << testing::PrintToString(told.lines);
  Check check;
  std::vector<std::string> plan;
  ASSERT_TRUE(in_target("upgrade", told, [&](Installation& i) {
                return i.plan_upgrade({{"../n2.tic"}, "", "", ""}, check, [&](const std::string& path, an_upgrade_action a) {
                  plan.push_back(std::string(upgrade_action_word(a)) + " " + path);
                });
              }).ok());
  EXPECT_EQ(plan, (std::vector<std::string>{"same B", "same Z", "same _", "replace a", "replace a-b", "replace a.b",
                                            "same b/c", "same \xc3\xa4", "same \xff"}));
  ASSERT_TRUE(in_target("upgrade", told, [&](Installation& i) { return i.upgrade({{"../n2.tic"}, "", "", ""}, check); }).ok());
  std::vector<std::string> compared;
  ASSERT_TRUE(in_target("verify", told, [&](Installation& i) {
                return i.compare({{}, "", "", ""}, check, [&](const an_installed_file& f) {
                  compared.push_back(f.name + (f.differences != 0 ? " differs" : ""));
                });
              }).ok());
  EXPECT_EQ(compared, (std::vector<std::string>{"B", "Z", "_", "a", "a-b", "a.b", "b/c", "\xc3\xa4", "\xff"}));
  EXPECT_EQ(read_file(dir_ / "target/a.b"), "two a.b");
}

// A journal as a killed upgrade leaves it: "a" put in place, "d/c" taken
// away; "d/b" announced but still the old file; "e" announced, never
// written.
void leave_journal(const std::string& path, const std::string& directory, const an_install_record& before) {
  a_journal head;
  head.run = "killed-run";
  head.directory = directory;
  head.install.command = "upgrade";
  JournalWriter journal;
  ASSERT_TRUE(journal.begin(path, head).ok());
  a_recorded_file a = before.files.at("a");
  a.sha256[0] ^= 1;  // not what is there: the run had not put it in place
  journal.placing("d/b", a, false);
  journal.placing("e", a, false);
  journal.removing("d/c");
}

TEST_F(InstallationTest, ARunThatDidNotEndIsTakenInAsItLeftTheTree) {
  Told told;
  ASSERT_TRUE(install("v1.tic", told).ok());
  const an_install_record before = record();
  leave_journal(journal_path(state_path()), before.directory, before);
  fs::remove(dir_ / "target/d/c");
  // Shown as the journal tells it, the tree not looked at.
  an_install_record shown = record();
  EXPECT_EQ(shown.installs.size(), 2u);
  EXPECT_FALSE(shown.installs.back().complete);
  EXPECT_EQ(shown.files.contains("e"), true);
  // Taken in by a command that changes the installation: only what is there.
  std::vector<std::string> compared;
  Check check;
  ASSERT_TRUE(in_target("remove", told, [&](Installation& i) {
                return i.compare({{}, "", "", ""}, check, [&](const an_installed_file& f) {
                  compared.push_back(f.name + (f.differences != 0 ? " differs" : ""));
                });
              }).ok());
  EXPECT_EQ(compared, (std::vector<std::string>{"a", "d/b"}));
  EXPECT_FALSE(file_exists(journal_path(state_path())));
  EXPECT_EQ(record().run, "killed-run");
}

TEST(Journal, NamesThatNoArchiveMayHoldAndBrokenLinesAreRefused) {
  TempDir dir;
  const std::string head =
      R"({"journal":"kestrel-journal 1","run":"r","directory":"/t","backup":"","install":{"command":"install",)"
      R"("when":"","kestrel":"","complete":false,"options":"","selected":[],"archives":[]}})"
      "\n";
  const std::string digest(64, '0');
  auto file_line = [&](const std::string& name) {
    return R"({"name":")" + name + R"(","type":"file","mode":"0644","size":1,"sha256":")" + digest +
           R"(","mac":")" + digest + "\"}\n";
  };
  for (const std::string name : {"../x", "/etc/passwd", "a/../../b", "./a", "a\\u0001b"}) {
    write_file(dir / "j", head + file_line(name));
    EXPECT_FALSE(read_journal(dir / "j").ok()) << name;
    write_file(dir / "j", head + R"({"gone":")" + name + "\"}\n");
    EXPECT_FALSE(read_journal(dir / "j").ok()) << name;
  }
  // A last line cut short by a power loss is left out; one before it is not.
  const std::string cut = file_line("b").substr(0, 30);
  write_file(dir / "j", head + file_line("a") + cut);
  Result<a_journal> read = read_journal(dir / "j");
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read->placed.size(), 1u);
  write_file(dir / "j", head + cut + "\n" + file_line("a"));
  EXPECT_FALSE(read_journal(dir / "j").ok());
  write_file(dir / "j", file_line("a"));
  EXPECT_FALSE(read_journal(dir / "j").ok()) << "no first line";
  // No journal is no failure.
  read = read_journal(dir / "none");
  EXPECT_TRUE(!read.ok() && !read.failure().failed());
}

}  // namespace
