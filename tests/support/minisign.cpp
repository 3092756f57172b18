#include "support/minisign.h"

#include <stdexcept>

#include "support/run.h"
#include "support/temp_dir.h"

namespace {

void run_minisign(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"minisign"};
  argv.insert(argv.end(), args.begin(), args.end());
  const RunResult r = run_program(MINISIGN_BIN, argv);
  if (r.status != 0) throw std::runtime_error("minisign failed (is it installed?): " + r.err);
}

}  // namespace

MinisignKeyPair make_key_pair(const std::string& dir, const std::string& name) {
  MinisignKeyPair pair{dir + "/" + name + ".pub", dir + "/" + name + ".key", ""};
  run_minisign({"-G", "-W", "-p", pair.public_key, "-s", pair.secret_key});
  // "untrusted comment: minisign public key <ID>", where minisign leaves out
  // leading zeros that kestrel shows.
  const std::string text = read_file(pair.public_key);
  const size_t end = text.find('\n');
  const size_t start = text.rfind(' ', end) + 1;
  pair.id = std::string(16 - (end - start), '0') + text.substr(start, end - start);
  return pair;
}

void minisign_sign(const MinisignKeyPair& key, const std::string& file, const std::vector<std::string>& extra) {
  std::vector<std::string> args{"-S", "-s", key.secret_key, "-m", file};
  args.insert(args.end(), extra.begin(), extra.end());
  run_minisign(args);
}
