// The Ansible collection tarnvale.kestrel through the real ansible-playbook
// (ansible-core from Debian): four local hosts, each with its own install
// and state directory, rolled from one release of the sample product to the
// next and back to nothing; and the collection passing ansible-lint and
// rendering in ansible-doc.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <tuple>

#include "platform/json.h"
#include "support/run.h"
#include "support/sample_releases.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"
#include "tic/archive/tic.h"

namespace {

namespace fs = std::filesystem;

const std::string kCollections = SOURCE_DIR "/ansible";
const std::string kCollection = kCollections + "/ansible_collections/tarnvale/kestrel";
const std::vector<std::string> kHosts{"h1", "h2", "h3", "h4"};

bool have_ansible() { return access("/usr/bin/ansible-playbook", X_OK) == 0; }

// What Ansible needs to run in a scratch directory |home|: its own
// configuration, temporaries and caches there, the collection from the
// source tree, a UTF-8 locale, no colours.
std::vector<std::string> ansible_environment(const std::string& home) {
  write_file(home + "/ansible.cfg", "");
  return {"HOME=" + home, "XDG_CACHE_HOME=" + home + "/cache", "ANSIBLE_CONFIG=" + home + "/ansible.cfg",
          "ANSIBLE_HOME=" + home + "/ansible", "ANSIBLE_LOCAL_TEMP=" + home + "/local-tmp",
          "ANSIBLE_REMOTE_TEMP=" + home + "/remote-tmp", "ANSIBLE_COLLECTIONS_PATH=" + kCollections,
          "LC_ALL=C.UTF-8", "ANSIBLE_NOCOLOR=1", "ANSIBLE_RETRY_FILES_ENABLED=0", "ANSIBLE_FORKS=4"};
}

// Four hosts reached by the local connection, each with its own install
// directory and state directory below hosts/<name>, and both releases of
// the sample product beside them.
struct Fleet {
  TempDir dir;
  std::vector<std::string> env = ansible_environment(dir.path());
  int plays = 0;

  Fleet() {
    EXPECT_TRUE(build_sample_releases(dir.path()));
    inventory({});
  }

  std::string dest(const std::string& host) const { return dir / ("hosts/" + host + "/opt/tarnvale"); }
  std::string state(const std::string& host) const { return dir / ("hosts/" + host + "/state"); }

  // The inventory, every host with the archives of |release| ("" or "2")
  // unless |archives| names others for it.
  void inventory(const std::map<std::string, std::vector<std::string>>& archives, const std::string& release = "") {
    Json hosts = Json::object();
    for (const std::string& host : kHosts) {
      Json vars = Json::object();
      vars["product_dest"] = dest(host);
      vars["product_state_dir"] = state(host);
      const auto other = archives.find(host);
      vars["product_archives"] = other != archives.end()
                                     ? Json(other->second)
                                     : Json::array({dir / ("server" + release + ".tic"),
                                                    dir / ("client" + release + ".tic")});
      hosts[host] = vars;
    }
    Json group = Json::object();
    group["hosts"] = hosts;
    group["vars"] = Json::parse(R"({"ansible_connection": "local", "ansible_python_interpreter": "/usr/bin/python3",
                                    "product_options": "*"})");
    group["vars"]["product_kestrel"] = KESTREL_BIN;
    Json document = Json::object();
    document["tarnvale"] = group;
    write_file(dir / "inventory.json", json_document(document));
  }

  // Runs |playbook| of the collection over the inventory with |args|; each
  // host's last task result is kept in tree/<play>/<host>.
  RunResult play(const std::string& playbook, const std::vector<std::string>& args = {}) {
    std::vector<std::string> argv{"ansible-playbook", "-i", "inventory.json", "tarnvale.kestrel." + playbook};
    argv.insert(argv.end(), args.begin(), args.end());
    RunOptions options{dir.path(), env, {"KESTREL_STATE_DIR"}, 600};
    options.extra_env.push_back("ANSIBLE_CALLBACKS_ENABLED=ansible.builtin.tree");
    options.extra_env.push_back("ANSIBLE_CALLBACK_TREE_DIR=" + (dir / ("tree/" + std::to_string(++plays))));
    return run_program("/usr/bin/ansible-playbook", argv, options);
  }

  // What the last play's last task returned on |host| (the members in
  // Ansible's order, so compared whatever their order).
  nlohmann::json result(const std::string& host) const {
    return nlohmann::json::parse(read_file(dir / ("tree/" + std::to_string(plays) + "/" + host)), nullptr, false);
  }

  RunResult kestrel(const std::string& host, std::vector<std::string> args) const {
    return run_kestrel(args, {dir.path(), {"KESTREL_STATE_DIR=" + state(host)}, {}});
  }

  // Every host's install tree (every time of every object, and its inode)
  // and its record.
  std::map<std::string, std::string> trees() const {
    std::map<std::string, std::string> out;
    for (const std::string& host : kHosts) {
      for (const auto& [path, what] : snapshot(dest(host), a_snapshot::kAllTimes)) {
        struct stat st;
        ::lstat((dest(host) + "/" + path).c_str(), &st);
        out[host + "/" + path] = what + " inode " + std::to_string(st.st_ino);
      }
      for (const auto& [path, what] : snapshot(state(host))) out[host + " record " + path] = what;
    }
    return out;
  }
};

// "h1 : ok=1 changed=1 unreachable=0 failed=0 ..." of the recap, per host:
// "changed=1 failed=0".
std::map<std::string, std::string> recap(const std::string& out) {
  std::map<std::string, std::string> hosts;
  const std::regex line(R"((h[0-9]+) +: ok=[0-9]+ +(changed=[0-9]+) +unreachable=0 +(failed=[0-9]+))");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator(); ++it)
    hosts[(*it)[1]] = std::string((*it)[2]) + " " + std::string((*it)[3]);
  return hosts;
}

std::map<std::string, std::string> everywhere(const std::string& counts) {
  std::map<std::string, std::string> hosts;
  for (const std::string& host : kHosts) hosts[host] = counts;
  return hosts;
}

// Upgrades |host| to the next release from a copy of server2.tic whose
// last stream that the upgrade writes is damaged: the files before it are
// put in place and recorded, and the record says the upgrade did not finish.
void interrupt_upgrade(const Fleet& fleet, const std::string& host) {
  const TicToc toc = Tic((fleet.dir / "server2.tic").c_str(), false, nullptr, 0).get_toc();
  const TicTocEntry* last = nullptr;
  for (const char* name : {"bin/tarnadm", "etc/tarnserve.conf", "share/doc/README"})
    if (last == nullptr || toc.file_map.at(name).data_offset > last->data_offset) last = &toc.file_map.at(name);
  std::string bytes = read_file(fleet.dir / "server2.tic");
  bytes[last->data_offset + last->stored_length / 2] ^= 1;
  write_file(fleet.dir / "cut.tic", bytes);
  const RunResult u = fleet.kestrel(host, {"upgrade", "-q", "-d", fleet.dest(host), fleet.dir / "cut.tic",
                                           fleet.dir / "client2.tic"});
  EXPECT_EQ(u.status, 255) << u.err;
  EXPECT_EQ(nlohmann::json::parse(fleet.kestrel(host, {"status", "-d", fleet.dest(host), "--json"}).out)["complete"],
            false);
}

TEST(AnsibleCollection, RollsAReleaseOutAndBackOverFourHosts) {
  if (!have_ansible()) GTEST_SKIP() << "ansible-core is not installed (scripts/deps.sh installs it)";
  Fleet fleet;

  // A fresh install everywhere, then the same play again: nothing changes,
  // not even a time.
  RunResult p = fleet.play("rollout");
  ASSERT_EQ(p.status, 0) << p.out << p.err;
  EXPECT_EQ(recap(p.out), everywhere("changed=1 failed=0")) << p.out;
  EXPECT_EQ(fleet.result("h1")["plan"]["add"], 10);
  EXPECT_EQ(fleet.result("h1")["versions"]["after"], nlohmann::json::array({"17.0.11 build 7254"}));
  for (const std::string& host : kHosts) EXPECT_EQ(fleet.kestrel(host, {"verify", "-d", fleet.dest(host)}).status, 0);
  const auto installed = fleet.trees();
  p = fleet.play("rollout");
  EXPECT_EQ(recap(p.out), everywhere("changed=0 failed=0")) << p.out;
  EXPECT_EQ(fleet.result("h4")["plan"]["same"], 10);
  EXPECT_EQ(fleet.trees(), installed) << "a second run writes nothing";

  // The next release in check mode: changes reported, nothing written.
  fleet.inventory({}, "2");
  p = fleet.play("rollout", {"--check", "--diff"});
  EXPECT_EQ(recap(p.out), everywhere("changed=1 failed=0")) << p.out;
  EXPECT_NE(p.out.find("add bin/tarnadm\nreplace etc/tarnserve.conf\nreplace share/doc/README\n"
                       "remove share/doc/client.txt\n"),
            std::string::npos)
      << p.out;
  EXPECT_EQ(fleet.trees(), installed) << "check mode writes nothing";

  // A rolling upgrade, two hosts at a time: h1's last upgrade was
  // interrupted (it is finished); h3's administrator changed the
  // configuration (kept, its new version beside it); h2 was handed a damaged
  // archive (it fails with kestrel's line, the others go on).
  interrupt_upgrade(fleet, "h1");
  write_file(fleet.dest("h3") + "/etc/tarnserve.conf", "port = 7000\n");
  // Its tables, which the archive's own MAC covers, are damaged.
  std::string damaged = read_file(fleet.dir / "client2.tic");
  damaged[damaged.size() - 1] ^= 1;
  write_file(fleet.dir / "damaged.tic", damaged);
  fleet.inventory({{"h2", {fleet.dir / "server2.tic", fleet.dir / "damaged.tic"}}}, "2");
  p = fleet.play("rollout", {"-e", "rollout_batch=2"});
  EXPECT_EQ(p.status, 2) << p.out;
  EXPECT_EQ(recap(p.out), (std::map<std::string, std::string>{{"h1", "changed=1 failed=0"},
                                                              {"h2", "changed=0 failed=1"},
                                                              {"h3", "changed=1 failed=0"},
                                                              {"h4", "changed=1 failed=0"}}))
      << p.out;
  size_t batches = 0;
  for (size_t at = 0; (at = p.out.find("TASK [tarnvale.kestrel.product : ", at)) != std::string::npos; ++at) ++batches;
  EXPECT_EQ(batches, 2u) << p.out;
  EXPECT_EQ(fleet.result("h2")["msg"], "kestrel: upgrade: " + fleet.dir / "damaged.tic" +
                                           ": archive does not match its MAC");
  EXPECT_EQ(fleet.result("h3")["kept"],
            nlohmann::json::parse(R"([{"name": "etc/tarnserve.conf", "beside": "etc/tarnserve.conf.kestrel-new"}])"));
  // Ansible wraps its warnings at the terminal's width.
  EXPECT_NE(std::regex_replace(p.err, std::regex("\n"), " ")
                .find("[WARNING]: kept changed file etc/tarnserve.conf, new version in etc/tarnserve.conf.kestrel-new"),
            std::string::npos)
      << p.err;
  EXPECT_EQ(read_file(fleet.dest("h3") + "/etc/tarnserve.conf"), "port = 7000\n");
  EXPECT_TRUE(file_exists(fleet.dest("h4") + "/bin/tarnadm"));
  EXPECT_EQ(fleet.kestrel("h1", {"verify", "-d", fleet.dest("h1")}).status, 0);
  EXPECT_EQ(nlohmann::json::parse(fleet.kestrel("h1", {"status", "-d", fleet.dest("h1"), "--json"}).out)["complete"],
            true);
  EXPECT_FALSE(file_exists(fleet.dest("h2") + "/bin/tarnadm")) << "h2 stays at the first release";

  // What kestrel_info reports is what status --json says, with the
  // differences verify finds.
  p = fleet.play("report");
  EXPECT_EQ(recap(p.out), everywhere("changed=0 failed=0")) << p.out;
  for (const std::string& host : kHosts) {
    nlohmann::json reported = fleet.result(host)["report.installations"];
    ASSERT_EQ(reported.size(), 1u) << host;
    const nlohmann::json differences = reported[0]["differences"];
    reported[0].erase("differences");
    const RunResult status = fleet.kestrel(host, {"status", "-d", fleet.dest(host), "--json"});
    EXPECT_EQ(reported[0], nlohmann::json::parse(status.out)) << host;
    EXPECT_EQ(differences, host == "h3"
                               ? nlohmann::json::parse(R"([{"name": "etc/tarnserve.conf", "what": ["content"]}])")
                               : nlohmann::json::array())
        << host;
  }

  // Away on all, the administrator's change too; then nothing to do.
  fleet.inventory({});
  p = fleet.play("rollout", {"-e", "product_state=absent", "-e", "product_purge=true"});
  EXPECT_EQ(recap(p.out), everywhere("changed=1 failed=0")) << p.out;
  for (const std::string& host : kHosts) {
    EXPECT_EQ(fleet.kestrel(host, {"status", "-d", fleet.dest(host)}).status, 1) << host;
    std::map<std::string, std::string> left = snapshot(fleet.dest(host), a_snapshot::kContent);
    if (host == "h3") EXPECT_EQ(left.count("etc/tarnserve.conf.kestrel-new"), 1u) << "the administrator's to merge";
    else EXPECT_TRUE(left.empty()) << host;
  }
  p = fleet.play("rollout", {"-e", "product_state=absent"});
  EXPECT_EQ(recap(p.out), everywhere("changed=0 failed=0")) << p.out;
}

TEST(AnsibleCollection, PassesAnsibleLintAndRendersInAnsibleDoc) {
  if (!have_ansible() || access("/usr/bin/ansible-lint", X_OK) != 0)
    GTEST_SKIP() << "ansible-core and ansible-lint are not installed (scripts/deps.sh installs them)";
  TempDir home;
  const RunOptions here{kCollection, ansible_environment(home.path()), {}, 600};
  const RunResult lint = run_program("/usr/bin/ansible-lint", {"ansible-lint", "--offline"}, here);
  EXPECT_EQ(lint.status, 0) << lint.out << lint.err;
  for (const std::string module : {"kestrel", "kestrel_info"}) {
    const RunResult doc = run_program("/usr/bin/ansible-doc", {"ansible-doc", "tarnvale.kestrel." + module}, here);
    EXPECT_EQ(std::tie(doc.status, doc.err), std::make_tuple(0, std::string())) << module;
    std::string title = "> TARNVALE.KESTREL." + module;
    std::transform(title.begin(), title.end(), title.begin(), ::toupper);
    EXPECT_EQ(doc.out.rfind(title, 0), 0u) << doc.out;
    EXPECT_NE(doc.out.find("- dest\n"), std::string::npos) << doc.out;
  }
}

}  // namespace
