#include "support/sample_releases.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "install/record_store.h"

namespace {

namespace fs = std::filesystem;

const std::string kSample = SAMPLE_DIR;

bool build(const std::string& directory, const std::string& tree, const std::string& server_list,
           const std::string& client_list, const std::string& suffix) {
  const RunOptions here{directory, {"SOURCE_DATE_EPOCH=1700000000"}, {}};
  std::vector<std::string> server{"build", "-C", tree, server_list, "server" + suffix + ".tic", "#server.ctl",
                                  "bin/tarnserve", "etc", "lib", "share/doc/README", "share/doc/server.txt"};
  if (!suffix.empty()) server.insert(server.begin() + 6, "bin/tarnadm");
  const RunResult s = run_tictool(server, here);
  EXPECT_EQ(s.err, "");
  std::vector<std::string> client{"build", "-a", "-C", tree, client_list, "client" + suffix + ".tic",
                                  "#client.ctl", "bin/tarnsql"};
  if (suffix.empty()) client.push_back("share/doc/client.txt");
  const RunResult c = run_tictool(client, here);
  EXPECT_EQ(c.err, "");
  return s.status == 0 && c.status == 0;
}

}  // namespace

bool build_sample_releases(const std::string& directory) {
  const std::string next = directory + "/next";
  if (!build(directory, kSample + "/tree", kSample + "/server.list", kSample + "/client.list", "")) return false;
  fs::copy(kSample + "/tree", next, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  fs::remove(next + "/share/doc/client.txt");
  write_file(next + "/bin/tarnadm", "#!/bin/sh\necho admin\n");
  fs::permissions(next + "/bin/tarnadm", fs::perms(0755));
  write_file(next + "/share/doc/README", read_file(kSample + "/tree/share/doc/README") + "Release 2.\n");
  write_file(next + "/etc/tarnserve.conf", read_file(kSample + "/tree/etc/tarnserve.conf") + "threads = 8\n");
  write_file(directory + "/next-server.list", read_file(kSample + "/server.list") + "bin/tarnadm;server;;0;0;0\n");
  std::string client = read_file(kSample + "/client.list");
  client.erase(client.find("share/doc/client.txt"));
  write_file(directory + "/next-client.list", client);
  return build(directory, next, directory + "/next-server.list", directory + "/next-client.list", "2");
}

const std::vector<std::string> kFirstRelease{"../server.tic", "../client.tic"};
const std::vector<std::string> kNextRelease{"../server2.tic", "../client2.tic"};

Release::Release() {
  EXPECT_TRUE(build_sample_releases(dir.path()));
  fs::create_directory(target);
}

RunResult Release::kestrel(std::vector<std::string> args, const std::vector<std::string>& env) const {
  std::vector<std::string> all{"KESTREL_STATE_DIR=" + state};
  all.insert(all.end(), env.begin(), env.end());
  return run_kestrel(args, {dir.path(), all, {}, 60});
}

RunResult Release::install_first_release() const {
  return kestrel({"install", "-q", "-d", "target", "-o", "*", kFirstRelease[0], kFirstRelease[1]});
}

std::string Release::record_path() const { return state + "/" + record_file_name(fs::canonical(target).string()); }
