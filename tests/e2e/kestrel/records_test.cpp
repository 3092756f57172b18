// The record of an installation through the real binary: written by
// install and added up, shown by status, worked from by verify and remove,
// and an upgrade to a next release that keeps what the administrator
// changed, takes away what the release dropped and leaves unchanged files
// alone; restore after it returns the tree and the record. And what
// configuration tools rely on: the plan of an upgrade as one JSON document
// that says whether anything would change, and remove --purge (with a
// backup tree that restore undoes).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <tuple>

#include "install/install_record.h"
#include "install/record_store.h"
#include "platform/json.h"
#include "support/archive_writer.h"
#include "support/command_output.h"
#include "support/run.h"
#include "support/sample_releases.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace {

namespace fs = std::filesystem;

const std::string kSample = SAMPLE_DIR;

ino_t inode_of(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// A record's text as the document it reads back as, whatever the order of
// its members and files.
std::string record_document(const std::string& text) {
  an_install_record record;
  if (Outcome read = record_from_text(text, record); !read) return "unreadable: " + read.failure().text();
  return json_document(record_to_json(record));
}

TEST(Records, InstallsAddUpAndStatusShowsThem) {
  Release r;
  ASSERT_EQ(r.kestrel({"install", "-d", "target", "-o", "server", "../server.tic", "../client.tic"}).err, "");
  ASSERT_EQ(r.kestrel({"install", "-d", "target", "-o", "client|docs", "../server.tic", "../client.tic"}).err, "");
  // The same install again replaces its earlier entry.
  ASSERT_EQ(r.kestrel({"install", "-d", "target", "-o", "server", "../server.tic", "../client.tic"}).err, "");
  ASSERT_TRUE(file_exists(r.record_path()));

  const std::string here = fs::canonical(r.dir.path()).string();
  RunResult s = r.kestrel({"status", "-d", "target"});
  EXPECT_EQ(std::tie(s.status, s.err), std::make_tuple(0, std::string()));
  const std::string server_tic = "  archive " + here + "/server.tic\n    size " +
                                 std::to_string(fs::file_size(r.dir / "server.tic")) + "\n";
  std::string shown = without_times(s.out);
  // The MACs stand as they are in the archives; only their form is checked.
  shown = std::regex_replace(shown, std::regex("mac [0-9a-f]{64}"), "mac M");
  const std::string archives = "  archive " + here + "/client.tic\n    size " +
                               std::to_string(fs::file_size(r.dir / "client.tic")) +
                               "\n    mac M\n    version 17.0.11 build 7254\n" + server_tic +
                               "    mac M\n    version 17.0.11 build 7254\n";
  EXPECT_EQ(shown, "directory " + here + "/target\nversion 17.0.11 build 7254\nfiles 10\n"
                   "install T\n  by kestrel 17.0.11 build 7254\n  complete yes\n  options client|docs\n"
                   "  selected client docs\n" + archives +
                   "install T\n  by kestrel 17.0.11 build 7254\n  complete yes\n  options server\n"
                   "  selected server\n" + archives);

  s = r.kestrel({"status", "--json", "-d", "target"});
  Result<Json> parsed = parse_json(s.out);
  ASSERT_TRUE(parsed.ok()) << s.out;
  Json& document = parsed.value();
  EXPECT_EQ(document["directory"], here + "/target");
  EXPECT_EQ(document["files"], 10);
  EXPECT_EQ(document["versions"], Json::array({"17.0.11 build 7254"}));
  ASSERT_EQ(document["installs"].size(), 2u);
  EXPECT_EQ(document["installs"][1]["selected"], Json::array({"server"}));
  EXPECT_EQ(document["installs"][1]["archives"][1]["path"], here + "/server.tic");

  fs::create_directory(r.dir / "elsewhere");
  s = r.kestrel({"status", "-d", "elsewhere"});
  EXPECT_EQ(std::tie(s.status, s.out, s.err),
            std::make_tuple(1, std::string(),
                            "kestrel: status: " + here + "/elsewhere: nothing is recorded for this install directory\n"));
}

// Without archives, verify and remove go by the record: the modes install
// gave the files, whatever the caller's umask now.
TEST(Records, VerifyAndRemoveWithoutArchivesIgnoreTheCallersUmask) {
  Release r;
  fs::create_directories(r.at("var/empty"));
  const auto before = snapshot(r.target);
  const mode_t saved = umask(022);
  ASSERT_EQ(r.install_first_release().err, "");
  umask(077);
  RunResult v = r.kestrel({"verify", "-d", "target"});
  EXPECT_EQ(std::tie(v.status, v.out, v.err), std::make_tuple(0, std::string(), std::string()));
  v = r.kestrel({"verify", "-d", "target", "-o", "client", "../server.tic", "../client.tic"});
  EXPECT_EQ(v.out, "mode #client.ctl\nmode bin/tarnsql\nmode lib/libtarn.so.1\n") << "with archives, as before";

  ::chmod(r.at("bin/tarnsql").c_str(), 0700);
  write_file(r.at("share/doc/README"), "my notes\n");
  v = r.kestrel({"verify", "--json", "-d", "target"});
  EXPECT_EQ(v.status, 1);
  Result<Json> parsed = parse_json(v.out);
  ASSERT_TRUE(parsed.ok()) << v.out;
  Json& document = parsed.value();
  EXPECT_EQ(document["from"], "record");
  EXPECT_EQ(document["compared"], 10);
  EXPECT_EQ(document["differences"], Json::parse(R"([{"name": "bin/tarnsql", "what": ["mode"]},
                                                     {"name": "share/doc/README", "what": ["content"]}])"));

  // The changed file stays, with its directory, and stays recorded; the
  // rest goes, whatever its mode.
  RunResult rm = r.kestrel({"remove", "-d", "target"});
  EXPECT_EQ(std::tie(rm.status, rm.err),
            std::make_tuple(1, std::string("kestrel: remove: kept changed file share/doc/README\n")));
  v = r.kestrel({"verify", "-d", "target"});
  EXPECT_EQ(v.out, "content share/doc/README\n");
  write_file(r.at("share/doc/README"), read_file(kSample + "/tree/share/doc/README"));
  rm = r.kestrel({"remove", "-d", "target"});
  EXPECT_EQ(std::tie(rm.status, rm.err), std::make_tuple(0, std::string()));
  EXPECT_FALSE(file_exists(r.record_path())) << "nothing kept: the record goes";
  EXPECT_EQ(snapshot(r.target), before);
  umask(saved);
}

TEST(Records, AStateDirectoryThatCannotBeWrittenCostsOnlyTheRecord) {
  Release r;
  write_file(r.dir / "file", "");
  const std::string state = r.dir / "file/state";
  const RunResult i = run_kestrel({"install", "-d", "target", "-o", "*", "../server.tic", "../client.tic"},
                                  {r.dir.path(), {"KESTREL_STATE_DIR=" + state}, {}});
  EXPECT_EQ(std::tie(i.status, i.err),
            std::make_tuple(0, "kestrel: install: " + state + ": no record kept: Not a directory\n"));
  EXPECT_EQ(read_file(r.at("bin/tarnsql")), read_file(kSample + "/tree/bin/tarnsql"));
}

// What an install that fails put in place is recorded, as not complete.
TEST(Records, AFailedInstallRecordsWhatItCommitted) {
  TempDir dir;
  fs::create_directory(dir / "target");
  write_forged_archive(dir / "f.tic", {{"a", "first"}, {"b", "second"}}, product_key());
  write_with_spoiled_stream_mac(dir / "f.tic", dir / "bad.tic", "b");
  const RunResult i = run_kestrel({"install", "-d", "target", "-o", "o", "../bad.tic"}, {dir.path(), {}, {}});
  ASSERT_EQ(std::tie(i.status, i.err), std::make_tuple(255, std::string("kestrel: install: b: stream does not match its MAC\n")));
  const RunResult s = run_kestrel({"status", "--json", "-d", "target"}, {dir.path(), {}, {}});
  Result<Json> parsed = parse_json(s.out);
  ASSERT_TRUE(parsed.ok()) << s.out << s.err;
  Json& document = parsed.value();
  EXPECT_EQ(document["files"], 1);
  EXPECT_EQ(document["installs"][0]["complete"], false);
  EXPECT_EQ(document["complete"], false) << "the last install did not finish";
  const RunResult v = run_kestrel({"verify", "-d", "target"}, {dir.path(), {}, {}});
  EXPECT_EQ(std::tie(v.status, v.out, v.err), std::make_tuple(0, std::string(), std::string()));
}

// One archive of the set that cannot be read stops every command that
// writes or compares before it touches the tree, the backup tree or the
// record; a log asked for is left empty.
TEST(Records, AnUnreadableArchiveOfTheSetChangesNothing) {
  Release r;
  ASSERT_EQ(r.install_first_release().err, "");
  write_file(r.dir / "bad.tic", "not an archive");
  const auto tree = snapshot(r.target);
  const std::string record = read_file(r.record_path());
  const std::vector<std::vector<std::string>> runs = {
      {"install", "-l", "log", "-b", "saved", "-o", "*", "../server.tic", "../bad.tic"},
      {"upgrade", "-l", "log", "-b", "saved", "../server2.tic", "../bad.tic"},
      {"upgrade", "--dry-run", "../server2.tic", "../bad.tic"},
      {"verify", "-o", "*", "../server.tic", "../bad.tic"},
      {"remove", "-o", "*", "../client.tic", "../bad.tic"},
  };
  for (std::vector<std::string> args : runs) {
    args.insert(args.begin() + 1, {"-d", "target"});
    const RunResult k = r.kestrel(args);
    EXPECT_EQ(std::tie(k.status, k.out, k.err),
              std::make_tuple(255, std::string(), "kestrel: " + args[0] + ": ../bad.tic: header cut short\n"))
        << testing::PrintToString(args);
    if (args[3] == "-l") {
      EXPECT_TRUE(file_exists(r.at("log"))) << args[0];
      EXPECT_EQ(read_file(r.at("log")), "") << args[0];
    }
    fs::remove(r.at("log"));
    EXPECT_EQ(snapshot(r.target), tree) << testing::PrintToString(args);
    EXPECT_EQ(read_file(r.record_path()), record) << testing::PrintToString(args);
  }
}

TEST(Upgrade, ToTheNextReleaseKeepsChangesDropsOrphansAndLeavesUnchangedFiles) {
  Release r;
  ASSERT_EQ(r.install_first_release().err, "");
  write_file(r.at("etc/tarnserve.conf"), "edited by hand\n");
  const std::string record_before = read_file(r.record_path());
  const auto tree_before = snapshot(r.target, a_snapshot::kAllTimes);
  const auto objects_before = snapshot(r.target);
  const ino_t tarnserve = inode_of(r.at("bin/tarnserve"));

  RunResult u = r.kestrel({"upgrade", "--dry-run", "-d", "target", "../server2.tic", "../client2.tic"});
  EXPECT_EQ(std::tie(u.status, u.err), std::make_tuple(0, std::string()));
  EXPECT_EQ(u.out,
            "same #client.ctl\nsame #server.ctl\nadd bin/tarnadm\nsame bin/tarnserve\nsame bin/tarnsql\n"
            "keep-changed etc/tarnserve.conf\nsame lib/libtarn.so\nsame lib/libtarn.so.1\nreplace share/doc/README\n"
            "remove share/doc/client.txt\nsame share/doc/server.txt\n");
  EXPECT_EQ(snapshot(r.target, a_snapshot::kAllTimes), tree_before) << "a dry run changes nothing";
  EXPECT_EQ(read_file(r.record_path()), record_before);

  // Without -o: the recorded option text.
  u = r.kestrel({"upgrade", "-d", "target", "-l", "upgrade.log", "-b", "../backup", "../server2.tic",
                 "../client2.tic"});
  EXPECT_EQ(std::tie(u.status, u.err),
            std::make_tuple(0, std::string("kestrel: upgrade: kept changed file etc/tarnserve.conf, new version in "
                                           "etc/tarnserve.conf.kestrel-new\n")));
  EXPECT_EQ(read_file(r.at("upgrade.log")),
            "-rwxr-xr-x         21 bin/tarnadm\n-rw-r--r--         80 etc/tarnserve.conf.kestrel-new\n"
            "-rw-r--r--        174 share/doc/README\nok\n");
  EXPECT_EQ(read_file(r.at("etc/tarnserve.conf")), "edited by hand\n");
  EXPECT_EQ(read_file(r.at("etc/tarnserve.conf.kestrel-new")), read_file(r.dir / "next/etc/tarnserve.conf"));
  EXPECT_EQ(read_file(r.at("bin/tarnadm")), "#!/bin/sh\necho admin\n");
  EXPECT_EQ(read_file(r.at("share/doc/README")), read_file(r.dir / "next/share/doc/README"));
  EXPECT_FALSE(file_exists(r.at("share/doc/client.txt")));
  EXPECT_EQ(inode_of(r.at("bin/tarnserve")), tarnserve) << "an unchanged file is not rewritten";

  // The record describes the new release: the kept file differs from it.
  RunResult v = r.kestrel({"verify", "-d", "target"});
  EXPECT_EQ(std::tie(v.status, v.out), std::make_tuple(1, std::string("content etc/tarnserve.conf\n")));
  const RunResult s = r.kestrel({"status", "-d", "target"});
  EXPECT_NE(s.out.find("\nfiles 10\nupgrade "), std::string::npos) << s.out;
  EXPECT_EQ(s.out.find("\ninstall "), std::string::npos) << s.out;

  // Upgrading again finds everything in place.
  u = r.kestrel({"upgrade", "--dry-run", "-d", "target", "../server2.tic", "../client2.tic"});
  EXPECT_NE(u.out.find("keep-changed etc/tarnserve.conf\nsame lib/libtarn.so\n"), std::string::npos) << u.out;
  EXPECT_EQ(u.out.find("add "), std::string::npos) << u.out;

  // restore returns the tree and the record to what they were before.
  const RunResult back = r.kestrel({"restore", "-d", "target", "-b", "../backup"});
  EXPECT_EQ(std::tie(back.status, back.out, back.err), std::make_tuple(0, std::string(), std::string()));
  auto tree_after = snapshot(r.target);
  tree_after.erase("upgrade.log");
  EXPECT_EQ(tree_after, objects_before);
  // The same record, written anew (the install wrote its files as they came).
  EXPECT_EQ(record_document(read_file(r.record_path())), record_document(record_before));
}

TEST(Upgrade, ASelectionThatIsNotTheSetsFailsBeforeAnythingIsWritten) {
  Release r;
  ASSERT_EQ(r.kestrel({"install", "-d", "target", "-o", "server", "../server.tic", "../client.tic"}).err, "");
  const auto before = snapshot(r.target, a_snapshot::kAllTimes);
  const struct { std::vector<std::string> args; std::string err; } cases[] = {
      {{"-o", "server|serevr|Docs"},
       "kestrel: upgrade: server|serevr|Docs: unknown options serevr, Docs; the archives have client, docs, server\n"},
      {{"-o", "|"}, "kestrel: upgrade: |: selects no file; the archives have client, docs, server\n"},
      {{"-o", "server"}, "kestrel: upgrade: server: selects no file; the archives have client, server\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"upgrade", "-d", "target"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(c.args.back() == "server" ? "../client2.tic" : "../server2.tic");
    const RunResult u = r.kestrel(args);
    EXPECT_EQ(std::tie(u.status, u.out, u.err), std::make_tuple(255, std::string(), c.err));
  }
  EXPECT_EQ(snapshot(r.target, a_snapshot::kAllTimes), before);
  fs::create_directory(r.dir / "empty");
  const RunResult u = r.kestrel({"upgrade", "-d", "empty", "../server2.tic"});
  EXPECT_EQ(u.err, "kestrel: upgrade: " + fs::canonical(r.dir / "empty").string() +
                       ": nothing is recorded for this install directory\n");
}

// The plan's actions, one "<action> <name>[ beside]" line each.
std::string actions_of(const Json& plan) {
  std::string out;
  for (const Json& file : plan["files"]) {
    out += file["action"].get<std::string>() + " " + file["name"].get<std::string>();
    if (file.contains("beside")) out += " beside " + file["beside"].get<std::string>();
    out += "\n";
  }
  return out;
}

std::vector<std::string> command(std::vector<std::string> words, const std::vector<std::string>& archives = {}) {
  words.insert(words.end(), archives.begin(), archives.end());
  return words;
}

TEST(UpgradePlanDocument, SaysWhatWouldBeDoneAndWhetherAnythingWouldChange) {
  Release r;
  RunResult p = r.kestrel(command({"upgrade", "-d", "target", "--dry-run", "--json"}, kFirstRelease));
  EXPECT_EQ(std::tie(p.status, p.out), std::make_tuple(1, std::string())) << "nothing recorded is a no";
  ASSERT_EQ(r.install_first_release().status, 0);
  p = r.kestrel(command({"upgrade", "-d", "target", "--dry-run", "--json"}, kFirstRelease));
  ASSERT_EQ(std::tie(p.status, p.err), std::make_tuple(0, std::string()));
  Json plan = json_of(p);
  EXPECT_EQ(plan["directory"], fs::canonical(r.target).string());
  EXPECT_EQ(plan["options"], "*");
  EXPECT_EQ(plan["versions"], Json::parse(R"({"before": ["17.0.11 build 7254"], "after": ["17.0.11 build 7254"]})"));
  EXPECT_EQ(plan["recorded"], Json::parse(R"({"command": "install", "complete": true})"));
  EXPECT_EQ(plan["changes"], false) << "the same release again";
  EXPECT_EQ(plan["counts"], Json::parse(R"({"add": 0, "replace": 0, "same": 10, "keep-changed": 0, "remove": 0})"));

  write_file(r.at("etc/tarnserve.conf"), "port = 7000\n");
  const auto before = snapshot(r.target, a_snapshot::kAllTimes);
  const std::string record = read_file(r.record_path());
  p = r.kestrel(command({"upgrade", "-d", "target", "--dry-run", "--json"}, kNextRelease));
  ASSERT_EQ(std::tie(p.status, p.err), std::make_tuple(0, std::string()));
  plan = json_of(p);
  EXPECT_EQ(plan["changes"], true);
  EXPECT_EQ(plan["counts"], Json::parse(R"({"add": 1, "replace": 1, "same": 7, "keep-changed": 1, "remove": 1})"));
  EXPECT_EQ(actions_of(plan),
            "same #client.ctl\nsame #server.ctl\nadd bin/tarnadm\nsame bin/tarnserve\nsame bin/tarnsql\n"
            "keep-changed etc/tarnserve.conf beside etc/tarnserve.conf.kestrel-new\nsame lib/libtarn.so\n"
            "same lib/libtarn.so.1\nreplace share/doc/README\nremove share/doc/client.txt\nsame share/doc/server.txt\n");
  EXPECT_EQ(snapshot(r.target, a_snapshot::kAllTimes), before) << "a plan writes nothing";
  EXPECT_EQ(read_file(r.record_path()), record);

  // Once upgraded, the same plan changes nothing: the kept file stays kept,
  // its new version is beside it already.
  ASSERT_EQ(r.kestrel(command({"upgrade", "-q", "-d", "target"}, kNextRelease)).status, 0);
  plan = json_of(r.kestrel(command({"upgrade", "-d", "target", "--dry-run", "--json"}, kNextRelease)));
  EXPECT_EQ(plan["changes"], false);
  EXPECT_EQ(plan["counts"], Json::parse(R"({"add": 0, "replace": 0, "same": 9, "keep-changed": 1, "remove": 0})"));

  RunResult refused = r.kestrel(command({"upgrade", "-d", "target", "--json"}, kNextRelease));
  EXPECT_EQ(std::tie(refused.status, refused.out, refused.err),
            std::make_tuple(255, std::string(),
                            std::string("kestrel: upgrade: --json: the plan is a document: give --dry-run too\n")));
}

// Taking away what the administrator already deleted, or a directory that
// still holds files of theirs, is no change.
TEST(UpgradePlanDocument, RemovingWhatIsGoneOrStaysIsNoChange) {
  TempDir dir;
  fs::create_directory(dir / "target");
  write_forged_archive(dir / "one.tic", {forged_directory("var"), {"var/log", "old\n"}, {"keep", "k\n"}},
                       product_key());
  write_forged_archive(dir / "two.tic", {{"keep", "k\n"}}, product_key());
  const RunOptions here{dir.path(), {"KESTREL_STATE_DIR=" + dir.path() + "/state"}, {}};
  ASSERT_EQ(run_kestrel({"install", "-q", "-d", "target", "-o", "o", "../one.tic"}, here).status, 0);
  const std::vector<std::string> plan_two{"upgrade", "-d", "target", "--dry-run", "--json", "../two.tic"};

  Json plan = json_of(run_kestrel(plan_two, here));
  EXPECT_EQ(actions_of(plan), "same keep\nremove var\nremove var/log\n");
  EXPECT_EQ(plan["changes"], true);
  write_file(dir / "target/var/mine", "the administrator's\n");
  EXPECT_EQ(json_of(run_kestrel(plan_two, here))["changes"], true) << "var/log still goes";
  fs::remove(dir / "target/var/log");
  EXPECT_EQ(json_of(run_kestrel(plan_two, here))["changes"], false) << "var stays for var/mine";
  fs::remove(dir / "target/var/mine");
  EXPECT_EQ(json_of(run_kestrel(plan_two, here))["changes"], true) << "the empty var goes";
}

// With -b, whatever remove takes away (a purge's changed files too) is
// kept in the backup tree, and restore returns the tree and the record.
TEST(RemovePurge, TakesChangedFilesIntoTheBackupTreeAndRestoreBringsThemBack) {
  Release r;
  ASSERT_EQ(r.install_first_release().status, 0);
  write_file(r.at("etc/tarnserve.conf"), "port = 7000\n");
  ::chmod(r.at("bin/tarnsql").c_str(), 0700);
  fs::remove(r.at("lib/libtarn.so"));
  fs::create_symlink("elsewhere", r.at("lib/libtarn.so"));
  fs::remove(r.at("share/doc/client.txt"));
  fs::create_directory(r.at("share/doc/client.txt"));  // a directory even a purge leaves
  const auto before = snapshot(r.target);
  const std::string status = r.kestrel({"status", "-d", "target", "--json"}).out;

  RunResult rm = r.kestrel({"remove", "-d", "target", "-b", "../backup", "--purge"});
  EXPECT_EQ(std::tie(rm.status, rm.out, rm.err),
            std::make_tuple(1, std::string(), std::string("kestrel: remove: kept changed file share/doc/client.txt\n")));
  std::map<std::string, std::string> left = snapshot(r.target, a_snapshot::kContent);
  EXPECT_EQ(left.size(), 3u) << "share, share/doc and the directory kept";
  EXPECT_TRUE(file_exists(r.dir / "backup/etc/tarnserve.conf"));
  EXPECT_EQ(fs::read_symlink(r.dir / "backup/lib/libtarn.so"), "elsewhere");

  RunResult back = r.kestrel({"restore", "-d", "target", "-b", "../backup"});
  EXPECT_EQ(std::tie(back.status, back.err), std::make_tuple(0, std::string()));
  EXPECT_EQ(snapshot(r.target), before) << "the very objects, changes and all";
  EXPECT_EQ(r.kestrel({"status", "-d", "target", "--json"}).out, status);
  EXPECT_FALSE(fs::exists(r.dir / "backup"));

  // Without the directory in the way, a purge leaves nothing.
  fs::remove(r.at("share/doc/client.txt"));
  rm = r.kestrel({"remove", "-d", "target", "--purge"});
  EXPECT_EQ(std::tie(rm.status, rm.err), std::make_tuple(0, std::string()));
  EXPECT_TRUE(fs::is_empty(r.target));
  EXPECT_EQ(r.kestrel({"status", "-d", "target"}).status, 1);
}

// A backup tree that cannot be used stops remove before anything goes.
TEST(RemovePurge, ABackupTreeThatCannotBeUsedRemovesNothing) {
  Release r;
  ASSERT_EQ(r.install_first_release().status, 0);
  const auto before = snapshot(r.target);
  fs::create_symlink(r.dir / "elsewhere", r.at("kept"));
  RunResult rm = r.kestrel({"remove", "-d", "target", "-b", "kept/backup", "--purge"});
  EXPECT_EQ(rm.status, 255);
  EXPECT_EQ(rm.err, "kestrel: remove: kept/backup: refusing to follow symbolic link kept\n");
  fs::remove(r.at("kept"));
  EXPECT_EQ(snapshot(r.target), before);
  EXPECT_EQ(r.kestrel({"verify", "-d", "target"}).status, 0);
}

}  // namespace
