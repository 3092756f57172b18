#include "install/install_run.h"

#include <errno.h>

#include "crypto/archive_key.h"
#include "install/backup_tree.h"
#include "install/extraction.h"
#include "install/install_steps.h"
#include "install/installing_set.h"
#include "install/plan_document.h"
#include "install/recorded_files.h"
#include "install/side_by_side.h"
#include "platform/error_word.h"

struct InstallRun::an_upgrade {
  std::unique_ptr<UpgradePlan> plan;
};

Outcome validate_archives(const MultiTic& set, const std::string& where) {
  const Outcome valid = set.integrity();
  if (valid) return valid;
  return valid.failure().subject.empty() ? valid.failure().about(where) : valid.failure();
}

namespace {

// Waits for the check when it goes: the check reads the set until it has
// finished, so it is declared after the set.
struct a_check_wait {
  ArchiveCheck& check;
  ~a_check_wait() { (void)check.finish(); }
};

}  // namespace

InstallRun::InstallRun(InstallationEvents& events, RecordKeeping& records, int root, const std::string& where,
                       unsigned jobs, const an_install_request& request, bool upgrade)
    : events_(events),
      records_(records),
      root_(root),
      where_(where),
      jobs_(jobs),
      request_(request),
      is_upgrade_(upgrade) {}

InstallRun::~InstallRun() = default;

Outcome InstallRun::fail(const a_failure& failure) {
  events_.failed(failure);
  return failure;
}

Outcome InstallRun::open_record(bool change) {
  if (!is_upgrade_) {
    selection_ = request_.options;
    return records_.open_for_change(root_, jobs_);
  }
  using a_use = RecordKeeping::a_journal_use;
  if (Outcome opened = records_.open_existing(change ? a_use::kRecover : a_use::kCheck, root_, jobs_); !opened)
    return opened;
  selection_ = request_.options.empty() ? records_.record().option_text() : request_.options;
  upgrade_ = std::make_unique<an_upgrade>();
  upgrade_->plan = std::make_unique<UpgradePlan>(records_.record().files);
  return Outcome();
}

const UpgradePlan& InstallRun::upgrade_plan() const { return *upgrade_->plan; }

Outcome InstallRun::plan_document(Tic& set, const std::function<void(const std::string&)>& put) const {
  const an_install_record& before = records_.before();
  an_install_record after;
  after.installs.push_back(records_.describe_install(set, selection_, false));
  Json document = Json::object();
  document["directory"] = json_text(records_.directory());
  document["options"] = json_text(selection_);
  document["versions"] = Json::object();
  document["versions"]["before"] = Json::array();
  for (const std::string& version : before.versions()) document["versions"]["before"].push_back(json_text(version));
  document["versions"]["after"] = Json::array();
  for (const std::string& version : after.versions()) document["versions"]["after"].push_back(json_text(version));
  // Whether what is recorded is whole: an interrupted install or upgrade is
  // finished by running that command again.
  document["recorded"] = Json::object();
  document["recorded"]["command"] = before.installs.empty() ? "" : before.installs.back().command;
  document["recorded"]["complete"] = !before.installs.empty() && before.installs.back().complete;
  return put_plan_document(*upgrade_->plan, std::move(document), root_, put);
}

Outcome InstallRun::plan(Tic& set, TicExtraction& extraction) {
  if (!upgrade_) return Outcome();
  if (Outcome checked = check_selection(set, selection_); !checked) return checked;
  if (Outcome planned = upgrade_->plan->plan(root_, jobs_, set, selection_); !planned) return planned;
  const UpgradePlan* plan = upgrade_->plan.get();
  extraction.set_decision([plan](const a_stream_ref& ref) { return plan->decision(ref); });
  std::vector<std::string> removals;
  removals.reserve(plan->removals().size());
  for (const UpgradePlan::a_removal& removal : plan->removals()) removals.push_back(removal.path);
  extraction.set_removals(std::move(removals));
  return Outcome();
}

// Installs the selected files into the install directory. Every archive is
// checked, and the install directory's room, before anything is written;
// the log ends with "ok" exactly when the installation succeeded and the
// installed files are on disk. A failure is told once the progress line
// has ended. What was put in place, also by an installation that failed,
// is added to the install directory's record once the log holds its last
// line.
Outcome InstallRun::run(ArchiveCheck& check) {
  if (Outcome opened = open_record(); !opened) return fail(opened.failure());
  InstallLog log;
  if (!request_.log_file.empty())
    if (Outcome opened = log.open(root_, request_.log_file); !opened) return fail(opened.failure());
  Outcome result;
  a_recorded_install installed;
  // The set outlives the extraction: the record is written by walking its
  // tables.
  const ArchiveKey key;
  InstallingSet set(request_.archives, key.bytes(), key.length(), events_, log);
  {
    const a_check_wait wait{check};
    TicExtraction extraction(set, root_, jobs_);
    if (!log.inside().empty()) extraction.reserve_path({log.inside(), "the install log"});
    set_ = &set;
    extraction.set_journal(this);
    result = ready_to_write(set, extraction, check);
    if (result) {
      observe(extraction);
      events_.begin(is_upgrade_ ? extraction.bytes_to_write(selection_) : set.bytes_required(selection_));
      result = extract_and_log(extraction, check, log);
      installed = records_.describe_install(set, selection_, result.ok());
    }
    log.close();
  }
  events_.end();
  if (!result) events_.failed(result.failure());
  if (result) report_kept();
  keep_record(installed, result.ok());
  set_ = nullptr;
  return result;
}

// Nothing is written unless every archive is valid, passes the check
// beside the decoding (signatures) as far as it can before, the plan holds
// and the files fit.
Outcome InstallRun::ready_to_write(InstallingSet& set, TicExtraction& extraction, ArchiveCheck& check) {
  if (Outcome valid = validate_archives(set, where_); !valid) return valid;
  if (Outcome started = check.start(set); !started) return started;
  if (Outcome planned = plan(set, extraction); !planned) return planned;
  if (extraction.check_room(selection_, !request_.backup_dir.empty(), where_) != 0) return recorded_failure(where_);
  return Outcome();
}

// Extracts the selected files, none put in place before the check has
// passed, then ends the log with "ok".
Outcome InstallRun::extract_and_log(TicExtraction& extraction, ArchiveCheck& check, InstallLog& log) {
  extraction.set_commit_gate([&check] { return check.finish().ok(); });
  const int extracted = extraction.extract(selection_, request_.backup_dir);
  if (Outcome checked = check.finish(); !checked) return checked;
  if (extracted == -1) return recorded_failure(where_);
  return log.finish();
}

// The backup tree is made the install directory's, keeping the record
// before, then the journal begins: a kill from here on leaves both.
Outcome InstallRun::begin(BackupTree* backup) {
  if (backup != nullptr) {
    Outcome bound = backup->bind(canonical_current_directory(), records_.before_text());
    if (!bound) {
      a_failure failure = bound.failure();
      failure.subject = request_.backup_dir;
      return failure;
    }
  }
  records_.begin_run(request_.backup_dir, records_.describe_install(*set_, selection_, false));
  return Outcome();
}

void InstallRun::placing(const std::string& path, const a_recorded_file& file, bool beside) {
  records_.journal().placing(path, file, beside);
}

void InstallRun::removing(const std::string& path) { records_.journal().removing(path); }

// What is put in place waits, by rank, for the record (install/placed_files.h).
// Once every archive is checked: the tables are read here.
void InstallRun::observe(TicExtraction& extraction) {
  if (!records_.keeping()) return;
  size_t count = 0;
  (void)set_->for_each_selected(selection_, false, [&count](const std::string&, const TicTocEntry&) { ++count; });
  placed_.open(records_.store().directory(), count);
  extraction.set_commit_observer(
      [this](const std::string&, const a_recorded_file& file, uint32_t rank) { placed_.add(rank, file); });
}

void InstallRun::report_kept() const {
  if (!upgrade_) return;
  (void)upgrade_->plan->walk([this](const UpgradePlan::a_step& step) {
    const a_planned_file& planned = step.planned;
    if (planned.action != an_upgrade_action::kKeepChanged) return;
    if (planned.beside || !planned.selected) events_.kept_changed(*step.path, planned.beside);
  });
}

// The record changes when files were put in place, or an upgrade finished
// (it may have only taken files away). The new record is written by
// walking the old one and the selection side by side, in name order: a
// file put in place is recorded as it was put there (beside a kept file,
// the release's version); a finished upgrade chose the whole installation,
// so it records exactly the selection's files, and earlier installs give
// way to it; anything else keeps what was recorded.
void InstallRun::keep_record(const a_recorded_install& installed, bool finished) {
  if (!records_.keeping()) return;
  if (placed_.size() == 0 && !(finished && records_.had_record() && is_upgrade_)) return records_.end_run();
  const bool whole = is_upgrade_ && finished;
  an_install_record& record = records_.record();
  if (whole) record.installs.clear();
  record.add_install(installed);
  records_.save_files([&](const RecordKeeping::a_file_put& put) {
    return walk_side_by_side(record.files, *set_, selection_, [&](const a_path_pair& pair) {
      a_recorded_file file;
      if (pair.selected != nullptr && placed_.get(pair.selected->rank, file))
        put(*pair.path, file);
      else if (pair.recorded != nullptr && (!whole || pair.selected != nullptr))
        put(*pair.path, *pair.recorded);
    });
  });
}
