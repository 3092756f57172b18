// The inventory through the real binary: every installation recorded on
// the machine (status --all), an installation's files (--files), the
// installation that holds a path (--owner), and the system's records read
// by a user other than root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>

#include "crypto/sha256.h"
#include "install/record_store.h"
#include "platform/json.h"
#include "support/archive_writer.h"
#include "support/command_output.h"
#include "support/hex.h"
#include "support/run.h"
#include "support/sample_releases.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string sha256_hex(const std::string& bytes) {
  UT_SHA256_CTX ctx;
  unsigned char digest[UT_SHA256_DIGEST_LENGTH];
  UT_SHA256_Init(&ctx);
  UT_SHA256_Update(&ctx, bytes.data(), bytes.size());
  UT_SHA256_Final(&ctx, digest);
  return to_hex(digest, sizeof digest);
}

TEST(Inventory, AllShowsEveryInstallationRecordedOnTheMachine) {
  Release r;
  RunResult all = r.kestrel({"status", "--all", "--json"});
  EXPECT_EQ(std::tie(all.status, all.out, all.err),
            std::make_tuple(1, std::string("{\n  \"installations\": []\n}\n"),
                            std::string("kestrel: status: nothing is recorded on this machine\n")));
  ASSERT_EQ(r.install_first_release().status, 0);
  fs::create_directory(r.dir / "other");
  ASSERT_EQ(r.kestrel({"install", "-q", "-d", "other", "-o", "client", "../client.tic"}).status, 0);
  // Beside the records: what is not one is passed over, a damaged one named.
  write_file(r.state + "/notes.txt", "not a record");
  write_file(r.state + "/x.json", "{");

  all = r.kestrel({"status", "--all"});
  const std::string here = fs::canonical(r.dir.path()).string();
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(all.err, "kestrel: status: " + r.state + "/x.json: damaged record: not a JSON document\n");
  EXPECT_EQ(without_times(all.out),
            "directory " + here + "/other\n  product tarnvale\n  version 17.0.11 build 7254\n  complete yes\n"
            "  when T\n  options client\n  files 2\n"
            "directory " + here + "/target\n  product tarnvale\n  version 17.0.11 build 7254\n  complete yes\n"
            "  when T\n  options *\n  files 10\n");

  // Each installation as status --json shows it.
  const Json inventory = json_of(r.kestrel({"status", "--all", "--json"}));
  ASSERT_EQ(inventory["installations"].size(), 2u);
  EXPECT_EQ(inventory["installations"][0], json_of(r.kestrel({"status", "-d", "other", "--json"})));
  const Json target = json_of(r.kestrel({"status", "-d", "target", "--json"}));
  EXPECT_EQ(inventory["installations"][1], target);
  EXPECT_EQ(target["products"], Json::array({"tarnvale"}));
  EXPECT_EQ(target["complete"], true);
  EXPECT_EQ(target["options"], "*");
  EXPECT_EQ(target["when"], target["installs"][0]["when"]);
}

TEST(Inventory, FilesListsTheRecordWithTypeModeSizeAndDigest) {
  TempDir dir;
  const std::string latin1 = "caf\xe9";  // not UTF-8
  write_forged_archive(dir / "p.tic",
                       {forged_directory("var"), forged_link("lib/so", "so.1"), {"bin/tool", "#!/bin/sh\n", 0755},
                        {latin1, "menu\n"}},
                       product_key());
  fs::create_directory(dir / "target");
  const RunOptions here{dir.path(), {"KESTREL_STATE_DIR=" + dir.path() + "/state"}, {}};
  ASSERT_EQ(run_kestrel({"install", "-q", "-d", "target", "-o", "o", "../p.tic"}, here).status, 0);

  RunResult files = run_kestrel({"status", "--files", "-d", "target"}, here);
  EXPECT_EQ(std::tie(files.status, files.err), std::make_tuple(0, std::string()));
  EXPECT_EQ(files.out, "file 0755 10 " + sha256_hex("#!/bin/sh\n") + " bin/tool\n" +
                           "file 0644 5 " + sha256_hex("menu\n") + " " + latin1 + "\n" +
                           "symlink 0777 0 " + sha256_hex("so.1") + " lib/so\n" +
                           "directory 0755 0 - var\n");
  const Json document = json_of(run_kestrel({"status", "--files", "--json", "-d", "target"}, here));
  EXPECT_EQ(document["directory"], fs::canonical(dir / "target").string());
  ASSERT_EQ(document["files"].size(), 4u);
  EXPECT_EQ(document["files"][0], Json::parse(R"({"name": "bin/tool", "type": "file", "mode": "0755", "size": 10,
                                                   "sha256": ")" + sha256_hex("#!/bin/sh\n") + "\"}"));
  EXPECT_EQ(document["files"][1]["name"], "caf\u00e9") << "each stray byte stands for its character";
  EXPECT_EQ(document["files"][3]["sha256"], nullptr);
}

TEST(Inventory, OwnerNamesTheInstallationThatHoldsAPath) {
  Release r;
  ASSERT_EQ(r.install_first_release().status, 0);
  fs::create_directories(r.dir / "target/opt/inner");
  ASSERT_EQ(r.kestrel({"install", "-q", "-d", "target/opt/inner", "-o", "client", "../../../client.tic"}).status,
            0);
  fs::create_directory_symlink("target/lib", r.dir / "via");
  const std::string target = fs::canonical(r.target).string();

  const struct {
    std::string path;
    std::string out;
  } cases[] = {
      {"target/bin/tarnserve", target + "\n"},
      {r.at("bin/tarnserve"), target + "\n"},
      {"target/./bin//tarnserve", target + "\n"},
      {"via/libtarn.so.1", target + "\n"},              // a link on the way is followed
      {"target/lib/libtarn.so", target + "\n"},         // the link itself is asked about
      {"target/opt/inner/bin/tarnsql", target + "/opt/inner\n"},
  };
  for (const auto& c : cases) {
    const RunResult o = r.kestrel({"status", "--owner", c.path});
    EXPECT_EQ(std::tie(o.status, o.out, o.err), std::make_tuple(0, c.out, std::string())) << c.path;
  }
  const Json owners = json_of(r.kestrel({"status", "--owner", "via/libtarn.so", "--json"}));
  EXPECT_EQ(owners, Json::parse(R"({"path": ")" + fs::canonical(r.dir.path()).string() + R"(/target/lib/libtarn.so",
      "owners": [{"directory": ")" + target + R"(", "name": "lib/libtarn.so", "type": "symlink"}]})"));

  RunResult none = r.kestrel({"status", "--owner", "target/etc"});
  EXPECT_EQ(std::tie(none.status, none.out, none.err),
            std::make_tuple(1, std::string(), "kestrel: status: " + target + "/etc: no recorded installation holds it\n"));
  none = r.kestrel({"status", "--owner", "target", "--json"});
  EXPECT_EQ(none.status, 1) << "the install directory is nobody's file";
  EXPECT_EQ(json_of(none)["owners"], Json::array());

  // One question at a time, about every installation.
  RunResult refused = r.kestrel({"status", "--owner", "x", "-d", "target"});
  EXPECT_EQ(std::tie(refused.status, refused.err),
            std::make_tuple(255, std::string("kestrel: status: -d: --all and --owner look at every installation: "
                                             "leave out -d\n")));
  refused = r.kestrel({"status", "--all", "--files"});
  EXPECT_EQ(std::tie(refused.status, refused.err),
            std::make_tuple(255, std::string("kestrel: status: --all, --files, --owner: one at a time\n")));
}

// Root's records live in /var/lib/kestrel: this test writes one there for a
// directory of its own, so it needs root, and removes it again.
const std::string kSystemState = "/var/lib/kestrel";

class SystemRecord {
 public:
  explicit SystemRecord(const std::string& directory)
      : existed_(fs::exists(kSystemState)), path_(kSystemState + "/" + record_file_name(directory)) {}
  ~SystemRecord() {
    std::error_code ignored;
    fs::remove(path_, ignored);
    if (!existed_) fs::remove(kSystemState, ignored);
  }

 private:
  bool existed_;
  std::string path_;
};

TEST(Inventory, AUserWithoutARecordReadsTheSystems) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to write the system's record and to run as another user";
  Release r;
  fs::permissions(r.dir.path(), fs::perms(0755));
  const std::string target = fs::canonical(r.target).string();
  const SystemRecord cleanup(target);
  const RunOptions as_root{r.dir.path(), {}, {"KESTREL_STATE_DIR"}};
  ASSERT_EQ(run_kestrel({"install", "-q", "-d", "target", "-o", "*", "../server.tic", "../client.tic"}, as_root).status,
            0);
  const std::string status = run_kestrel({"status", "-d", "target", "--json"}, as_root).out;

  // nobody, with a home of no records of its own.
  const RunOptions agent{r.dir.path(), {"HOME=" + r.dir.path() + "/home"}, {"KESTREL_STATE_DIR", "XDG_STATE_HOME"},
                         60, 65534};
  RunResult s = run_kestrel({"status", "-d", "target", "--json"}, agent);
  EXPECT_EQ(std::tie(s.status, s.out, s.err), std::make_tuple(0, status, std::string()));
  s = run_kestrel({"verify", "-d", "target"}, agent);
  EXPECT_EQ(std::tie(s.status, s.out, s.err), std::make_tuple(0, std::string(), std::string()));
  s = run_kestrel({"upgrade", "-d", "target", "--dry-run", "--json", "../server.tic", "../client.tic"}, agent);
  EXPECT_EQ(std::tie(s.status, s.err), std::make_tuple(0, std::string()));
  EXPECT_EQ(json_of(s)["changes"], false);
  s = run_kestrel({"status", "--owner", "target/bin/tarnserve"}, agent);
  EXPECT_EQ(std::tie(s.status, s.out), std::make_tuple(0, target + "\n"));
  s = run_kestrel({"status", "--all", "--json"}, agent);
  const Json inventory = json_of(s);
  bool listed = false;
  for (const Json& one : inventory["installations"]) listed = listed || one["directory"] == target;
  EXPECT_TRUE(listed) << s.out;

  // A command that writes never works from the system's record, and a
  // state directory named in KESTREL_STATE_DIR is the only one.
  s = run_kestrel({"remove", "-d", "target"}, agent);
  EXPECT_EQ(std::tie(s.status, s.err),
            std::make_tuple(255, "kestrel: remove: " + target + ": nothing is recorded for this install directory\n"));
  RunOptions named = agent;
  named.extra_env.push_back("KESTREL_STATE_DIR=" + r.dir.path() + "/home/state");
  EXPECT_EQ(run_kestrel({"status", "-d", "target"}, named).status, 1);
  EXPECT_EQ(run_kestrel({"verify", "-d", "target"}, as_root).status, 0) << "nothing was removed";
}

}  // namespace
