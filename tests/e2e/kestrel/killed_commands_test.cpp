// Every writing command killed at each of its steps (fail points, compiled
// into test builds only: platform/fail_point.h): running the same command
// again leaves exactly the tree, the record and the state directory of a
// run that was never stopped, and restore -b returns the tree and the
// record from before. Meanwhile status shows the run as not complete and
// verify judges each file by what the run put in place or what was
// recorded before.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <tuple>
#include <vector>

#include "install/install_record.h"
#include "install/record_store.h"
#include "platform/json.h"
#include "support/archive_writer.h"
#include "support/run.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace {

namespace fs = std::filesystem;

// What an administrator had in the install directory before the product:
// files the product replaces (one of them a link where the product has a
// file), files of their own, an empty directory.
void make_before(const std::string& target) {
  write_file(target + "/etc/conf", "edited by the administrator");
  write_file(target + "/bin/run", "#!/bin/sh\necho old\n");
  fs::permissions(target + "/bin/run", fs::perms(0755));
  fs::create_directories(target + "/lib");
  fs::create_symlink("libx.so.1", target + "/lib/libx.so");
  fs::create_directories(target + "/var/empty");
  write_file(target + "/keep/notes", "not the product's");
}

// Release 1 of the product, and release 2: one file changed, one dropped,
// one new, the rest the same.
std::vector<ForgedEntry> release(unsigned version) {
  std::vector<ForgedEntry> out{{"bin/run", "#!/bin/sh\necho 1\n", 0755}, {"etc/conf", "conf 1"},
                               {"lib/libx.so", "library 1"}};
  for (int i = 0; i < 8; ++i) out.push_back({"share/d" + std::to_string(i % 3) + "/f" + std::to_string(i), "f" + std::to_string(i)});
  if (version == 2) {
    out[2].contents = "library 2";
    out.pop_back();
    out.push_back({"share/new", "new in 2"});
  }
  return out;
}

class Site {
 public:
  Site() {
    make_before(target);
    write_forged_archive(dir / "v1.tic", release(1), product_key());
    write_forged_archive(dir / "v2.tic", release(2), product_key());
  }

  // Runs kestrel in the site; with |fail_at| it kills itself there.
  RunResult kestrel(const std::vector<std::string>& args, const std::string& fail_at = "",
                    const std::string& jobs = "1") const {
    std::vector<std::string> env{"KESTREL_STATE_DIR=" + state, "KESTREL_JOBS=" + jobs};
    if (!fail_at.empty()) env.push_back("KESTREL_FAIL_AT=" + fail_at);
    return run_kestrel(args, {dir.path(), env, {}, 60});
  }

  // The record as a document, the site's path and the times written alike
  // whatever the site; "" when there is none.
  std::string record() const {
    const std::string path = state + "/" + record_file_name(fs::canonical(target).string());
    if (!file_exists(path)) return "";
    an_install_record record;
    if (Outcome read = record_from_text(read_file(path), record); !read) return "unreadable: " + read.failure().text();
    record.run.clear();
    for (a_recorded_install& install : record.installs) install.when = "T";
    const std::string text = json_document(record_to_json(record));
    return std::regex_replace(text, std::regex(fs::canonical(dir.path()).string()), "SITE");
  }

  // The state directory's files, the record's name written R.
  std::vector<std::string> state_files() const {
    std::vector<std::string> out;
    if (!fs::exists(state)) return out;
    const std::string name = record_file_name(fs::canonical(target).string());
    for (const auto& entry : fs::directory_iterator(state)) {
      std::string file = entry.path().filename().string();
      if (file.compare(0, name.size(), name) == 0) file = "R" + file.substr(name.size());
      file = std::regex_replace(file, std::regex("before-[0-9a-f]+$"), "before-H");
      out.push_back(file);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  // Across sites the objects' contents; within one, the very objects too.
  // The backup tree's own files name the site, the run and its time:
  // written alike whatever they are.
  std::map<std::string, std::string> tree(a_snapshot detail = a_snapshot::kContent) const {
    std::map<std::string, std::string> out = snapshot(target, detail);
    const std::regex site(fs::canonical(dir.path()).string()), run("\"run\": \"[^\"]*\""),
        when("20[0-9]{2}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z");
    for (auto& [path, what] : out)
      what = std::regex_replace(std::regex_replace(std::regex_replace(what, site, "SITE"), run, "RUN"), when, "T");
    return out;
  }

  TempDir dir;
  const std::string target = dir / "target";
  const std::string state = dir / "state";
};

// What a site holds after a command: its tree, record and state files.
struct SiteState {
  std::map<std::string, std::string> tree;
  std::string record;
  std::vector<std::string> state;
  bool operator==(const SiteState& o) const { return std::tie(tree, record, state) == std::tie(o.tree, o.record, o.state); }
};

SiteState outcome_of(const Site& s, a_snapshot detail = a_snapshot::kContent) {
  return {s.tree(detail), s.record(), s.state_files()};
}

// Each part compared on its own, so that a difference shows as one.
void expect_same(const SiteState& got, const SiteState& want, const std::string& what) {
  EXPECT_EQ(got.tree, want.tree) << what;
  EXPECT_EQ(got.record, want.record) << what;
  EXPECT_EQ(got.state, want.state) << what;
}

// Status shows the run under way as not complete, and verify from the
// record finds only |changed|, what was changed before the run.
void expect_interrupted_run_shown(const Site& s, const std::string& point, const std::string& changed = "") {
  const RunResult status = s.kestrel({"status", "-d", "target"});
  EXPECT_NE(status.out.find("  complete no\n"), std::string::npos) << point << "\n" << status.out << status.err;
  const RunResult verify = s.kestrel({"verify", "-d", "target"});
  EXPECT_EQ(std::tie(verify.status, verify.out, verify.err), std::make_tuple(changed.empty() ? 0 : 1, changed, std::string()))
      << point;
}

#ifdef KESTREL_FAIL_POINTS
constexpr bool kFailPoints = true;
#else
constexpr bool kFailPoints = false;
#endif

const std::vector<std::string> kInstall{"install", "-q", "-d", "target", "-b", "saved", "-o", "o", "../v1.tic"};

TEST(KilledCommands, AnInstallRunAgainFinishesAndRestoreUndoesIt) {
  if (!kFailPoints) GTEST_SKIP() << "built without fail points";
  Site reference;
  const RunResult whole = reference.kestrel(kInstall);
  ASSERT_EQ(std::tie(whole.status, whole.err), std::make_tuple(0, std::string()));
  const SiteState after = outcome_of(reference);
  const std::string points[] = {"journal-begun",  "backed-up:2",    "put-in-place:1",
                                "put-in-place:6", "put-in-place:11", "record-written", "record-renamed"};
  for (const std::string& point : points) {
    const std::string jobs = point.back() == '6' ? "3" : "1";
    Site again, undone;
    const SiteState before = outcome_of(undone, a_snapshot::kMovedTimes);
    for (Site* s : {&again, &undone}) ASSERT_EQ(s->kestrel(kInstall, point, jobs).status, -1) << point;
    if (point != "record-renamed") expect_interrupted_run_shown(again, point);
    // Killed again at the same step, then run to the end.
    again.kestrel(kInstall, point, jobs);
    RunResult r = again.kestrel(kInstall, "", jobs);
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(0, std::string(), std::string())) << point;
    expect_same(outcome_of(again), after, "run again after a kill at " + point);
    r = undone.kestrel({"restore", "-d", "target", "-b", "saved"});
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(0, std::string(), std::string())) << point;
    expect_same(outcome_of(undone, a_snapshot::kMovedTimes), before, "restored after a kill at " + point);
  }
}

const std::vector<std::string> kUpgrade{"upgrade", "-q", "-d", "target", "-b", "saved", "../v2.tic"};

// Release 1 installed, and one of its files changed by the administrator.
void install_release_1(const Site& s) {
  ASSERT_EQ(s.kestrel({"install", "-d", "target", "-o", "o", "../v1.tic"}).err, "");
  write_file(s.target + "/share/d1/f1", "edited");
}

// Kills |command| at each of |points| on sites that |prepare| made: run
// again, it ends with the status, lines, tree, record and state files of
// the same command on a site never stopped (which ends with |status|), and
// restore -b on another site brings back the tree and record of before.
// |interrupted|, when given, looks at the site between the kill and the
// rerun.
void expect_convergence(const std::vector<std::string>& command, int status, const std::vector<std::string>& points,
                        const std::function<void(const Site&)>& prepare,
                        const std::function<void(const Site&, const std::string&)>& interrupted = nullptr) {
  Site reference;
  prepare(reference);
  const RunResult whole = reference.kestrel(command);
  ASSERT_EQ(whole.status, status) << whole.err;
  const SiteState after = outcome_of(reference);
  for (const std::string& point : points) {
    Site again, undone;
    prepare(again);
    prepare(undone);
    const SiteState before = outcome_of(undone, a_snapshot::kMovedTimes);
    for (Site* s : {&again, &undone}) ASSERT_EQ(s->kestrel(command, point).status, -1) << point;
    if (interrupted) interrupted(again, point);
    RunResult r = again.kestrel(command);
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::tie(whole.status, whole.out, whole.err)) << point;
    expect_same(outcome_of(again), after, "run again after a kill at " + point);
    r = undone.kestrel({"restore", "-d", "target", "-b", "saved"});
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(0, std::string(), std::string())) << point;
    expect_same(outcome_of(undone, a_snapshot::kMovedTimes), before, "restored after a kill at " + point);
  }
}

// The administrator's file is kept and reported alike, and nothing the
// stopped run put in place is taken for a change.
TEST(KilledCommands, AnUpgradeRunAgainFinishesAndRestoreUndoesIt) {
  if (!kFailPoints) GTEST_SKIP() << "built without fail points";
  expect_convergence(kUpgrade, 0,
                     {"journal-begun", "backed-up:1", "put-in-place:1", "put-in-place:2", "removed:1",
                      "record-written", "record-renamed"},
                     install_release_1, [](const Site& s, const std::string& point) {
                       if (point != "record-renamed") expect_interrupted_run_shown(s, point, "content share/d1/f1\n");
                     });
}

TEST(KilledCommands, ARemoveRunAgainFinishes) {
  if (!kFailPoints) GTEST_SKIP() << "built without fail points";
  const std::vector<std::string> remove{"remove", "-d", "target"};
  Site reference;
  install_release_1(reference);
  const RunResult whole = reference.kestrel(remove);
  const SiteState after = outcome_of(reference);
  for (const std::string point : {"removed:1", "removed:5", "record-written", "record-renamed"}) {
    Site again;
    install_release_1(again);
    ASSERT_EQ(again.kestrel(remove, point).status, -1) << point;
    const RunResult r = again.kestrel(remove);
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::tie(whole.status, whole.out, whole.err)) << point;
    expect_same(outcome_of(again), after, "run again after a kill at " + point);
  }
}

// A removal that keeps what it takes in a backup tree (the administrator's
// file kept: status 1).
TEST(KilledCommands, ARemoveIntoABackupRunAgainFinishesAndRestoreUndoesIt) {
  if (!kFailPoints) GTEST_SKIP() << "built without fail points";
  expect_convergence({"remove", "-d", "target", "-b", "saved"}, 1,
                     {"removed:1", "removed:5", "record-written", "record-renamed"}, install_release_1);
}

TEST(KilledCommands, ARestoreRunAgainFinishes) {
  if (!kFailPoints) GTEST_SKIP() << "built without fail points";
  const std::vector<std::string> restore{"restore", "-d", "target", "-b", "saved"};
  for (const std::string point : {"restored:1", "restored:3", "record-written", "record-renamed"}) {
    Site again;
    install_release_1(again);
    const SiteState before = outcome_of(again, a_snapshot::kMovedTimes);
    ASSERT_EQ(again.kestrel(kUpgrade).status, 0);
    ASSERT_EQ(again.kestrel(restore, point).status, -1) << point;
    const RunResult r = again.kestrel(restore);
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(0, std::string(), std::string())) << point;
    expect_same(outcome_of(again, a_snapshot::kMovedTimes), before, "run again after a kill at " + point);
  }
}

}  // namespace
