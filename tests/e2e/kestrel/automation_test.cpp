// What configuration tools rely on, through the real binary: exit statuses
// that tell "no" from "could not", the plan of an upgrade as one JSON
// document that says whether anything would change, and remove --purge
// (with a backup tree that restore undoes).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <tuple>

#include "platform/json.h"
#include "support/run.h"
#include "support/sample_releases.h"
#include "support/stream_forge.h"
#include "support/archive_writer.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace {

namespace fs = std::filesystem;

Json document_of(const RunResult& r) {
  const Result<Json> document = parse_json(r.out);
  EXPECT_TRUE(document.ok()) << r.out << r.err;
  return document ? document.value() : Json();
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

const std::vector<std::string> kRelease1{"../server.tic", "../client.tic"};
const std::vector<std::string> kRelease2{"../server2.tic", "../client2.tic"};

std::vector<std::string> command(std::vector<std::string> words, const std::vector<std::string>& archives = {}) {
  words.insert(words.end(), archives.begin(), archives.end());
  return words;
}

TEST(ExitStatus, TellsNoFromCouldNot) {
  Release r;
  RunResult s = r.kestrel({"status", "-d", "target"});
  EXPECT_EQ(std::tie(s.status, s.out), std::make_tuple(1, std::string())) << "nothing recorded is a no";
  ASSERT_EQ(r.kestrel(command({"install", "-q", "-d", "target", "-o", "*"}, kRelease1)).status, 0);
  EXPECT_EQ(r.kestrel({"status", "-d", "target"}).status, 0);
  EXPECT_EQ(r.kestrel({"verify", "-d", "target"}).status, 0);

  write_file(r.at("share/doc/README"), "my notes\n");
  RunResult v = r.kestrel({"verify", "-d", "target"});
  EXPECT_EQ(std::tie(v.status, v.out, v.err), std::make_tuple(1, std::string("content share/doc/README\n"),
                                                              std::string()));
  v = r.kestrel(command({"verify", "-d", "target", "-o", "*"}, kRelease1));
  EXPECT_EQ(std::tie(v.status, v.out), std::make_tuple(1, std::string("content share/doc/README\n")));
  // An archive that cannot be checked is no answer at all.
  std::string damaged = read_file(r.dir / "client.tic");
  damaged[damaged.size() - 1] ^= 1;
  write_file(r.dir / "damaged.tic", damaged);
  v = r.kestrel({"verify", "-d", "target", "-o", "*", "../server.tic", "../damaged.tic"});
  EXPECT_EQ(std::tie(v.status, v.out), std::make_tuple(255, std::string()));
  EXPECT_NE(v.err.find("kestrel: verify: "), std::string::npos) << v.err;

  // remove keeps the changed file (1); a purge leaves nothing (0).
  RunResult rm = r.kestrel({"remove", "-d", "target"});
  EXPECT_EQ(std::tie(rm.status, rm.err),
            std::make_tuple(1, std::string("kestrel: remove: kept changed file share/doc/README\n")));
  rm = r.kestrel({"remove", "-d", "target"});
  EXPECT_EQ(rm.status, 1) << "still kept";
  rm = r.kestrel({"remove", "-d", "target", "--purge"});
  EXPECT_EQ(std::tie(rm.status, rm.out, rm.err), std::make_tuple(0, std::string(), std::string()));
  EXPECT_TRUE(fs::is_empty(r.target));
  EXPECT_EQ(r.kestrel({"status", "-d", "target"}).status, 1);
}

TEST(UpgradePlanDocument, SaysWhatWouldBeDoneAndWhetherAnythingWouldChange) {
  Release r;
  RunResult p = r.kestrel(command({"upgrade", "-d", "target", "--dry-run", "--json"}, kRelease1));
  EXPECT_EQ(std::tie(p.status, p.out), std::make_tuple(1, std::string())) << "nothing recorded is a no";
  ASSERT_EQ(r.kestrel(command({"install", "-q", "-d", "target", "-o", "*"}, kRelease1)).status, 0);
  p = r.kestrel(command({"upgrade", "-d", "target", "--dry-run", "--json"}, kRelease1));
  ASSERT_EQ(std::tie(p.status, p.err), std::make_tuple(0, std::string()));
  Json plan = document_of(p);
  EXPECT_EQ(plan["directory"], fs::canonical(r.target).string());
  EXPECT_EQ(plan["options"], "*");
  EXPECT_EQ(plan["versions"], Json::parse(R"({"before": ["17.0.11 build 7254"], "after": ["17.0.11 build 7254"]})"));
  EXPECT_EQ(plan["recorded"], Json::parse(R"({"command": "install", "complete": true})"));
  EXPECT_EQ(plan["changes"], false) << "the same release again";
  EXPECT_EQ(plan["counts"], Json::parse(R"({"add": 0, "replace": 0, "same": 10, "keep-changed": 0, "remove": 0})"));

  write_file(r.at("etc/tarnserve.conf"), "port = 7000\n");
  const auto before = snapshot(r.target, a_snapshot::kAllTimes);
  const std::string record = read_file(r.record_path());
  p = r.kestrel(command({"upgrade", "-d", "target", "--dry-run", "--json"}, kRelease2));
  ASSERT_EQ(std::tie(p.status, p.err), std::make_tuple(0, std::string()));
  plan = document_of(p);
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
  ASSERT_EQ(r.kestrel(command({"upgrade", "-q", "-d", "target"}, kRelease2)).status, 0);
  plan = document_of(r.kestrel(command({"upgrade", "-d", "target", "--dry-run", "--json"}, kRelease2)));
  EXPECT_EQ(plan["changes"], false);
  EXPECT_EQ(plan["counts"], Json::parse(R"({"add": 0, "replace": 0, "same": 9, "keep-changed": 1, "remove": 0})"));

  RunResult refused = r.kestrel(command({"upgrade", "-d", "target", "--json"}, kRelease2));
  EXPECT_EQ(std::tie(refused.status, refused.out, refused.err),
            std::make_tuple(255, std::string(),
                            std::string("kestrel: upgrade: --json: the plan is a document: give --dry-run too\n")));
}

// Taking away what the administrator already deleted, or a directory that
// still holds files of theirs, is no change.
TEST(UpgradePlanDocument, RemovingWhatIsGoneOrStaysIsNoChange) {
  TempDir dir;
  fs::create_directory(dir / "target");
  ForgedEntry var("var", "", 0755);
  var.type = 040000;
  write_forged_archive(dir / "one.tic", {var, {"var/log", "old\n"}, {"keep", "k\n"}}, product_key());
  write_forged_archive(dir / "two.tic", {{"keep", "k\n"}}, product_key());
  const RunOptions here{dir.path(), {"KESTREL_STATE_DIR=" + dir.path() + "/state"}, {}};
  ASSERT_EQ(run_kestrel({"install", "-q", "-d", "target", "-o", "o", "../one.tic"}, here).status, 0);
  const std::vector<std::string> plan_two{"upgrade", "-d", "target", "--dry-run", "--json", "../two.tic"};

  Json plan = document_of(run_kestrel(plan_two, here));
  EXPECT_EQ(actions_of(plan), "same keep\nremove var\nremove var/log\n");
  EXPECT_EQ(plan["changes"], true);
  write_file(dir / "target/var/mine", "the administrator's\n");
  EXPECT_EQ(document_of(run_kestrel(plan_two, here))["changes"], true) << "var/log still goes";
  fs::remove(dir / "target/var/log");
  EXPECT_EQ(document_of(run_kestrel(plan_two, here))["changes"], false) << "var stays for var/mine";
  fs::remove(dir / "target/var/mine");
  EXPECT_EQ(document_of(run_kestrel(plan_two, here))["changes"], true) << "the empty var goes";
}

// With -b, whatever remove takes away (a purge's changed files too) is
// kept in the backup tree, and restore returns the tree and the record.
TEST(RemovePurge, TakesChangedFilesIntoTheBackupTreeAndRestoreBringsThemBack) {
  Release r;
  ASSERT_EQ(r.kestrel(command({"install", "-q", "-d", "target", "-o", "*"}, kRelease1)).status, 0);
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
  ASSERT_EQ(r.kestrel(command({"install", "-q", "-d", "target", "-o", "*"}, kRelease1)).status, 0);
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
