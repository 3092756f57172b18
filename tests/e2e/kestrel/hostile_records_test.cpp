// The record of an installation and the state directory as hostile input,
// through the real binary: forged records and another directory's record
// are refused by every command before anything is touched, a state that
// others may write by every command that writes, and the temporaries that a
// running kestrel may still own stay, in the state directory and in nested
// install directories.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <tuple>

#include "install/install_directory.h"
#include "install/record_store.h"
#include "platform/fd.h"
#include "platform/json.h"
#include "support/run.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace {

namespace fs = std::filesystem;

// The sample set installed into target/, with a state directory of its own,
// and beside them outside/victim, a file with the bytes and mode of the
// installed share/doc/client.txt: what a forged record would aim at.
struct Site {
  TempDir dir;
  const std::string target = dir / "target";
  const std::string state = dir / "state";
  const std::string victim = dir / "outside/victim";
  const std::vector<std::string> archives{"../server.tic", "../client.tic"};

  Site() {
    EXPECT_TRUE(build_sample_set(dir.path()));
    fs::create_directory(target);
    EXPECT_EQ(install({}).err, "");
    write_file(victim, read_file(target + "/share/doc/client.txt"));
    struct stat st;
    ::stat((target + "/share/doc/client.txt").c_str(), &st);
    ::chmod(victim.c_str(), st.st_mode & 07777);
  }

  RunResult kestrel(const std::vector<std::string>& args) const {
    return run_kestrel(args, {dir.path(), {"KESTREL_STATE_DIR=" + state}, {}, 60});
  }
  // install -q -d target, |switches|, -o '*', the sample set.
  RunResult install(std::vector<std::string> switches) const {
    std::vector<std::string> args{"install", "-q", "-d", "target"};
    args.insert(args.end(), switches.begin(), switches.end());
    args.insert(args.end(), {"-o", "*"});
    args.insert(args.end(), archives.begin(), archives.end());
    return kestrel(args);
  }
  std::string record_path() const { return state + "/" + record_file_name(fs::canonical(target).string()); }
  // Everything a command could change: the install tree, the state, what
  // lies outside.
  std::map<std::string, std::string> everything() const { return snapshot(dir.path()); }

  // Every command that reads the record, and so must refuse a forged one.
  std::vector<std::vector<std::string>> commands_reading_the_record() const {
    const std::string server = archives[0], client = archives[1];
    return {{"status", "-d", "target"},
            {"verify", "-d", "target"},
            {"remove", "-d", "target"},
            {"remove", "-d", "target", "-o", "*", server, client},
            {"upgrade", "-q", "-d", "target", server, client},
            {"upgrade", "-d", "target", "--dry-run", server, client},
            {"install", "-q", "-d", "target", "-o", "*", server, client},
            {"restore", "-d", "target", "-b", "../backup"}};
  }
};

// Rewrites the JSON document |path| through |change|.
void rewrite(const std::string& path, const std::function<void(Json&)>& change) {
  Result<Json> document = parse_json(read_file(path));
  ASSERT_TRUE(document.ok()) << document.failure().text();
  change(document.value());
  write_file(path, json_document(document.value()));
}

Json& file_named(Json& document, const std::string& name) {
  for (Json& file : document["files"])
    if (file["name"] == name) return file;
  throw std::runtime_error("no file " + name + " in the record");
}

// A process number that no process has any more.
pid_t ended_process() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

// What each forged record is refused with, after "kestrel: <command>:
// <record>: ".
struct Forgery {
  std::string what;
  std::function<void(Json&)> change;
  std::string why;
};

std::vector<Forgery> forgeries(const Site& s) {
  auto renamed = [](const std::string& to) {
    return [to](Json& d) { file_named(d, "share/doc/client.txt")["name"] = to; };
  };
  return {
      {"a name up and out", renamed("../outside/victim"), "forged record: ../outside/victim: \"..\" in path"},
      {"an absolute name", renamed(s.victim), "forged record: " + s.victim + ": absolute path"},
      {"a control character", renamed("share/doc/client.txt\n"),
       "forged record: share/doc/client.txt\\x0a: control character in name"},
      {"a temporary's name", renamed("share/doc/.kestrel-tmp-1-0"),
       "forged record: share/doc/.kestrel-tmp-1-0: name reserved for temporaries"},
      {"two names for one path",
       [](Json& d) {
         Json again = file_named(d, "share/doc/client.txt");
         again["name"] = "./share//doc/client.txt";
         d["files"].push_back(again);
       },
       "forged record: share/doc/client.txt recorded twice"},
      {"another directory's record", [](Json& d) { d["directory"] = "/elsewhere"; },
       "record of another install directory, /elsewhere"},
  };
}

// Before the record was read as untrusted input, a record naming
// "../outside/victim" made remove and upgrade delete it as root, exit 0,
// and verify found all well.
TEST(HostileRecords, AForgedRecordIsRefusedByEveryCommandBeforeAnythingIsTouched) {
  Site s;
  const std::string record = read_file(s.record_path());
  for (const Forgery& forgery : forgeries(s)) {
    write_file(s.record_path(), record);
    rewrite(s.record_path(), forgery.change);
    const auto before = s.everything();
    for (const auto& args : s.commands_reading_the_record()) {
      const RunResult r = s.kestrel(args);
      EXPECT_EQ(std::tie(r.status, r.out, r.err),
                std::make_tuple(255, std::string(),
                                "kestrel: " + args[0] + ": " + s.record_path() + ": " + forgery.why + "\n"))
          << forgery.what << ": " << testing::PrintToString(args);
    }
    EXPECT_EQ(s.everything(), before) << forgery.what;
  }
}

// restore puts back the record kept from before the install: it is read as
// the record is, before the tree is touched.
TEST(HostileRecords, ARestoreRefusesAForgedRecordToReturnTo) {
  Site s;
  ASSERT_EQ(s.install({"-b", "../backup"}).err, "");
  // The backup tree keeps it.
  const std::string kept = s.dir / "backup/.kestrel-backup/record.json";
  ASSERT_TRUE(file_exists(kept));
  rewrite(kept, [](Json& d) { file_named(d, "share/doc/client.txt")["name"] = "../outside/victim"; });
  const auto before = s.everything();
  const RunResult r = s.kestrel({"restore", "-d", "target", "-b", "../backup"});
  EXPECT_EQ(std::tie(r.status, r.out, r.err),
            std::make_tuple(255, std::string(),
                            "kestrel: restore: ../backup/.kestrel-backup/record.json: forged record: "
                            "../outside/victim: \"..\" in path\n"));
  EXPECT_EQ(s.everything(), before);
}

// A link put in the install tree after the install: what the record names
// through it is not followed out, whatever the link's target holds.
TEST(HostileRecords, NamesThroughALinkInTheInstallTreeAreNeverFollowedOut) {
  Site s;
  fs::rename(s.target + "/share/doc", s.dir / "outside/doc");
  fs::create_directory_symlink("../../outside/doc", s.target + "/share/doc");
  const auto outside = snapshot(s.dir / "outside");
  RunResult r = s.kestrel({"verify", "-d", "target"});
  EXPECT_EQ(std::tie(r.status, r.out),
            std::make_tuple(1, std::string("missing share/doc/README\nmissing share/doc/client.txt\n"
                                             "missing share/doc/server.txt\n")));
  r = s.kestrel({"remove", "-d", "target"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "kestrel: remove: share/doc/README: refusing to remove through symbolic link share/doc\n"
                   "kestrel: remove: share/doc/client.txt: refusing to remove through symbolic link share/doc\n"
                   "kestrel: remove: share/doc/server.txt: refusing to remove through symbolic link share/doc\n");
  r = s.kestrel({"upgrade", "-q", "-d", "target", "../server.tic"});
  EXPECT_EQ(std::tie(r.status, r.err),
            std::make_tuple(255, std::string("kestrel: upgrade: share/doc/README: refusing to write through "
                                             "symbolic link share/doc\n")));
  EXPECT_EQ(snapshot(s.dir / "outside"), outside);
  EXPECT_TRUE(file_exists(s.target + "/share/doc/client.txt")) << "through the link, untouched";
}

// The state others may write: refused by the commands that write, warned
// of by those that only read.
TEST(HostileRecords, AStateOthersMayWriteIsRefusedByEveryCommandThatWrites) {
  Site s;
  ASSERT_EQ(s.install({"-b", "../backup"}).err, "");
  const std::string status_out = s.kestrel({"status", "-d", "target"}).out;
  const uid_t me = geteuid();
  const std::string must = me == 0 ? "must belong to root" : "must belong to root or to uid " + std::to_string(me);
  auto problem = [&](uid_t owner, const char* mode) {
    return "owned by uid " + std::to_string(owner) + " with mode " + mode + "; " + must +
           " and not be writable by group or others";
  };
  struct Case {
    std::string path;
    uid_t owner;
    mode_t mode;
    const char* shown;
  };
  std::vector<Case> cases{{s.state, me, 0777, "0777"},
                          {s.state, me, 0775, "0775"},
                          {s.record_path(), me, 0666, "0666"},
                          {s.record_path(), me, 0620, "0620"}};
  if (me == 0) {
    cases.push_back({s.state, 12345, 0755, "0755"});
    cases.push_back({s.record_path(), 12345, 0644, "0644"});
  }
  const std::vector<std::vector<std::string>> writing{
      {"install", "-q", "-d", "target", "-o", "*", "../server.tic", "../client.tic"},
      {"upgrade", "-q", "-d", "target", "../server.tic", "../client.tic"},
      {"remove", "-d", "target"},
      {"remove", "-d", "target", "-o", "*", "../server.tic", "../client.tic"},
      {"restore", "-d", "target", "-b", "../backup"}};
  for (const Case& c : cases) {
    struct stat was;
    ASSERT_EQ(::stat(c.path.c_str(), &was), 0);
    ASSERT_EQ(::chown(c.path.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(::chmod(c.path.c_str(), c.mode), 0);
    const auto before = s.everything();
    for (const auto& args : writing) {
      const RunResult r = s.kestrel(args);
      EXPECT_EQ(std::tie(r.status, r.out, r.err),
                std::make_tuple(255, std::string(),
                                "kestrel: " + args[0] + ": " + c.path + ": " + problem(c.owner, c.shown) + "\n"))
          << c.path << " " << c.shown << ": " << args[0];
    }
    EXPECT_EQ(s.everything(), before);
    RunResult r = s.kestrel({"status", "-d", "target"});
    EXPECT_EQ(std::tie(r.status, r.out, r.err),
              std::make_tuple(0, status_out,
                              "kestrel: status: " + c.path + ": warning: " + problem(c.owner, c.shown) + "\n"));
    r = s.kestrel({"verify", "-d", "target"});
    EXPECT_EQ(std::tie(r.status, r.out, r.err),
              std::make_tuple(0, std::string(),
                              "kestrel: verify: " + c.path + ": warning: " + problem(c.owner, c.shown) + "\n"));
    ASSERT_EQ(::chown(c.path.c_str(), was.st_uid, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(::chmod(c.path.c_str(), was.st_mode & 07777), 0);
  }
  // The record kept for the restore, in the backup tree, too.
  const std::string kept = s.dir / "backup/.kestrel-backup/record.json";
  ASSERT_EQ(::chmod(kept.c_str(), 0646), 0);
  const RunResult r = s.kestrel({"restore", "-d", "target", "-b", "../backup"});
  EXPECT_EQ(std::tie(r.status, r.err),
            std::make_tuple(255, "kestrel: restore: ../backup/.kestrel-backup/record.json: " + problem(me, "0646") +
                                     "\n"));
}

TEST(HostileRecords, AStateDirectoryKestrelMakesIsWritableByItsOwnerAlone) {
  const mode_t saved = umask(0);
  Site s;
  umask(saved);
  struct stat st;
  ASSERT_EQ(::stat(s.state.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  ASSERT_EQ(::stat(s.record_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

// Temporaries of the record that killed commands left go under the install
// directory's lock; one of a process that runs, or of another directory's
// record, stays.
TEST(HostileRecords, StaleTemporariesOfTheRecordAreSweptButNoneThatMayBeInUse) {
  Site s;
  const std::string gone = std::to_string(ended_process());
  const std::string record = s.record_path();
  const std::vector<std::string> stale{record + ".tmp-" + gone, record + ".before-0123456789abcdef.tmp-" + gone};
  const std::vector<std::string> kept{record + ".tmp-" + std::to_string(getpid()),
                                      s.state + "/tmp-elsewhere.json.tmp-" + gone, record + ".tmp-" + gone + ".json"};
  for (const auto& names : {stale, kept})
    for (const std::string& name : names) write_file(name, "{");
  EXPECT_EQ(s.kestrel({"status", "-d", "target"}).status, 0);
  for (const std::string& name : stale) EXPECT_TRUE(file_exists(name)) << "status only reads: " << name;
  EXPECT_EQ(s.install({}).err, "");
  for (const std::string& name : stale) EXPECT_FALSE(file_exists(name)) << name;
  for (const std::string& name : kept) EXPECT_TRUE(file_exists(name)) << name;
}

// An install or a restore of target/ while another kestrel installs into
// target/share (it holds that directory's lock), or runs: their
// temporaries stay. Faults at fixed points: the lock held here, and
// temporaries planted with the number of a process that runs and of one
// that ended.
TEST(HostileRecords, TemporariesThatARunningKestrelMayOwnStayInNestedInstallDirectories) {
  Site s;
  const std::string prefix = InstallDirectory::kTemporaryPrefix;
  const std::string gone = std::to_string(ended_process());
  const std::string live = std::to_string(getpid());
  const std::string locked = s.target + "/share/" + prefix + gone + "-0";
  const std::string below_locked = s.target + "/share/doc/" + prefix + gone + "-1";
  const std::string of_live = s.target + "/bin/" + prefix + live + "-2";
  const std::string abandoned = s.target + "/etc/" + prefix + gone + "-3";
  for (const std::string& name : {locked, below_locked, of_live, abandoned}) write_file(name, "partial");
  {
    const UniqueFd share(::open((s.target + "/share").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_EQ(::flock(share.get(), LOCK_EX), 0);
    EXPECT_EQ(s.install({"-b", "../backup"}).err, "");
    EXPECT_TRUE(file_exists(locked));
    EXPECT_TRUE(file_exists(below_locked));
    EXPECT_TRUE(file_exists(of_live));
    EXPECT_FALSE(file_exists(abandoned));
    // restore takes away every temporary a killed command left, but these.
    write_file(abandoned, "partial");
    const RunResult r = s.kestrel({"restore", "-d", "target", "-b", "../backup"});
    EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(0, std::string()));
    EXPECT_TRUE(file_exists(locked));
    EXPECT_TRUE(file_exists(below_locked));
    EXPECT_TRUE(file_exists(of_live));
    EXPECT_FALSE(file_exists(abandoned));
  }
  // The lock released: nobody may still own them.
  EXPECT_EQ(s.install({}).err, "");
  EXPECT_FALSE(file_exists(locked));
  EXPECT_FALSE(file_exists(below_locked));
  EXPECT_TRUE(file_exists(of_live));
}

}  // namespace
