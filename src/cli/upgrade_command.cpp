#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <memory>

#include "cli/commands.h"
#include "cli/installed_comparison.h"
#include "cli/kestrel_tic.h"
#include "cli/record_keeping.h"
#include "cli/upgrade_plan_document.h"
#include "crypto/archive_key.h"
#include "display/message.h"
#include "install/extraction.h"
#include "install/recorded_files.h"
#include "install/upgrade_plan.h"
#include "platform/json.h"
#include "tic/archive/multi_tic.h"
#include "install/install_steps.h"
#include "tic/format/options.h"

struct CommandUpgrade::a_state {
  int root = -1;
  std::vector<an_installed_file> installed;
  std::unique_ptr<UpgradePlan> plan;
};

CommandUpgrade::CommandUpgrade() : state_(std::make_unique<a_state>()) {}
CommandUpgrade::~CommandUpgrade() = default;

namespace {

// Checks the option text |selection| against the set: every name must be an
// option of the set, and the text must select some file. false with the
// text in |subject| and why in |cause|, which names the set's options.
bool check_selection(Tic& set, const std::string& selection, std::string& subject, std::string& cause) {
  if (set.read_toc(false) != 0) {
    subject = set.read_failure().subject;
    cause = set.read_failure().text();
    return false;
  }
  const TicOptions& table = set.get_toc().options;
  std::string unknown, known;
  for_each_option_name(selection, [&](std::string_view name) {
    if (name != "*" && table.option_map.count(std::string(name)) == 0)
      unknown += (unknown.empty() ? "" : ", ") + std::string(name);
    return true;
  });
  for (const auto& item : table.option_map) known += (known.empty() ? "" : ", ") + item.first;
  const std::string have = "; the archives have " + (known.empty() ? std::string("no option") : known);
  subject = selection.empty() ? "-o" : selection;
  if (!unknown.empty()) {
    cause = (unknown.find(", ") == std::string::npos ? "unknown option " : "unknown options ") + unknown + have;
    return false;
  }
  std::vector<a_stream_ref> refs;
  if (set.selected_streams(selection, refs) == 0 && refs.empty()) {
    cause = "selects no file" + have;
    return false;
  }
  return true;
}

}  // namespace

// Installs a new set of archives over a recorded installation, as install
// does (progress, log, backup tree, lock, failures), going by the plan of
// install/upgrade_plan.h: unchanged files with unchanged entries are not
// touched, files changed since they were recorded are kept (the new version
// beside them as <name>.kestrel-new, one line on standard error each), and
// recorded files the new selection leaves out are taken away. Without -o
// the recorded option text is installed. The option text must name options
// of the set and select some file, or nothing is written. The record then
// describes the new installation alone.
int CommandUpgrade::run() {
  if (json && !dry_run) {
    complain("upgrade", "--json", "the plan is a document: give --dry-run too");
    return -1;
  }
  return dry_run ? dry_run_set() : install_set("upgrade");
}

bool CommandUpgrade::open_record(RecordKeeping& records, int root, unsigned jobs) {
  if (!records.open_existing()) return false;
  selection_ = options.empty() ? records.record().option_text() : options;
  state_->root = root;
  compare_recorded_files(records.record(), root, jobs, state_->installed);
  state_->plan = std::make_unique<UpgradePlan>(records.record(), state_->installed);
  return true;
}

bool CommandUpgrade::plan(KestrelTic& set, TicExtraction& extraction, std::string& subject, std::string& cause) {
  if (!check_selection(set, selection_, subject, cause)) return false;
  std::vector<a_stream_ref> refs;
  if (set.selected_streams(selection_, refs) != 0) {
    subject = set.read_failure().subject;
    cause = set.read_failure().text();
    return false;
  }
  a_failure failure;
  if (!state_->plan->plan(state_->root, refs, subject, failure)) {
    cause = failure.text();
    return false;
  }
  const UpgradePlan* plan = state_->plan.get();
  extraction.set_decision([plan](const std::string& path, const TicTocEntry&) { return plan->decision(path); });
  extraction.set_removals(plan->removals());
  return true;
}

void CommandUpgrade::update_record(an_install_record& record, const std::map<std::string, a_recorded_file>& committed,
                                   bool complete) {
  state_->plan->apply(record, committed, complete);
}

void CommandUpgrade::report() {
  for (const auto& [path, planned] : state_->plan->files()) {
    if (planned.action != an_upgrade_action::kKeepChanged) continue;
    if (planned.beside)
      complain_as("kestrel", "upgrade: kept changed file " + printable(path) + ", new version in " +
                                 printable(path + kBesideSuffix));
    else if (!planned.selected)
      complain_as("kestrel", "upgrade: kept changed file " + printable(path));
  }
}

// The plan, one line "<action> <name>" per file in byte-wise order of the
// names, printed without taking the lock or writing anything.
int CommandUpgrade::dry_run_set() {
  if (args.empty()) {
    usage();
    return -1;
  }
  RecordKeeping records("upgrade", false);
  UniqueFd root;
  unsigned jobs = 1;
  if (open_install_directory("upgrade", directory, root, nullptr, jobs) != 0) return -1;
  // Nothing recorded is the plan's answer "no", as it is status's.
  if (!open_record(records, root.get(), jobs)) return records.nothing_recorded() ? 1 : -1;
  const ArchiveKey key;
  KestrelTic set(args, false, key.bytes(), key.length());
  std::string subject, cause;
  if (!validate_set(set, subject, cause)) {
    complain("upgrade", subject.empty() ? (directory.empty() ? "." : directory) : subject, cause);
    return -1;
  }
  if (check_signatures("upgrade", set) != 0) return -1;
  TicExtraction extraction(set, root.get(), jobs);
  if (!plan(set, extraction, subject, cause)) {
    complain("upgrade", subject, cause);
    return -1;
  }
  if (json) {
    print_plan_document(records, set);
    return 0;
  }
  for (const auto& [path, planned] : state_->plan->files())
    printf("%s %s\n", upgrade_action_word(planned.action), printable(path).c_str());
  return 0;
}

// upgrade --dry-run --json (cli/upgrade_plan_document.h).
void CommandUpgrade::print_plan_document(const RecordKeeping& records, Tic& set) {
  an_install_record after;
  after.installs.push_back(records.describe_install(set, selection_, false));
  Json document = Json::object();
  document["directory"] = json_text(records.directory());
  document["options"] = json_text(selection_);
  document["versions"] = Json::object();
  document["versions"]["before"] = Json::array();
  for (const std::string& version : records.before().versions())
    document["versions"]["before"].push_back(json_text(version));
  document["versions"]["after"] = Json::array();
  for (const std::string& version : after.versions()) document["versions"]["after"].push_back(json_text(version));
  // Whether what is recorded is whole: an interrupted install or upgrade is
  // finished by running that command again.
  const an_install_record& before = records.before();
  document["recorded"] = Json::object();
  document["recorded"]["command"] = before.installs.empty() ? "" : before.installs.back().command;
  document["recorded"]["complete"] = !before.installs.empty() && before.installs.back().complete;
  add_plan_to_document(*state_->plan, records.before(), state_->installed, state_->root, document);
  printf("%s\n", json_document(document).c_str());
}
