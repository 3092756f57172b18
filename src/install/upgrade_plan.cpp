#include "install/upgrade_plan.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

#include "install/install_directory.h"
#include "install/recorded_files.h"
#include "platform/error_word.h"
#include "tic/archive/tic.h"
#include "tic/format/options.h"

namespace {

// What stands at |path| below |root|, the record knowing nothing of it.
an_upgrade_action plan_unrecorded(int root, const std::string& path, bool& beside) {
  a_reached_directory at;
  a_failure ignored;
  struct stat st;
  // A path that cannot be reached is left to extraction, which refuses a
  // link on the way and says why.
  if (reach_parent(root, path, at, ignored) != a_reach::kReached ||
      fstatat(at.directory.get(), at.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode))
    return an_upgrade_action::kAdd;
  beside = true;
  return an_upgrade_action::kKeepChanged;
}

}  // namespace

Outcome check_selection(Tic& set, const std::string& selection) {
  if (set.read_toc(false) != 0) return set.read_failure();
  const TicOptions& table = set.get_toc().options;
  std::string unknown, known;
  for_each_option_name(selection, [&](std::string_view name) {
    if (name != "*" && table.option_map.count(std::string(name)) == 0)
      unknown += (unknown.empty() ? "" : ", ") + std::string(name);
    return true;
  });
  for (const auto& item : table.option_map) known += (known.empty() ? "" : ", ") + item.first;
  const std::string have = "; the archives have " + (known.empty() ? std::string("no option") : known);
  const std::string subject = selection.empty() ? "-o" : selection;
  errno = 0;
  if (!unknown.empty())
    return failure_of(kStepArchives, subject,
                      (unknown.find(", ") == std::string::npos ? "unknown option " : "unknown options ") + unknown + have);
  std::vector<a_stream_ref> refs;
  if (set.selected_streams(selection, refs) == 0 && refs.empty()) {
    errno = 0;
    return failure_of(kStepArchives, subject, "selects no file" + have);
  }
  return Outcome();
}

const char* upgrade_action_word(an_upgrade_action action) {
  switch (action) {
    case an_upgrade_action::kAdd: return "add";
    case an_upgrade_action::kReplace: return "replace";
    case an_upgrade_action::kSame: return "same";
    case an_upgrade_action::kKeepChanged: return "keep-changed";
    default: return "remove";
  }
}

UpgradePlan::UpgradePlan(const std::map<std::string, a_recorded_file>& record, const std::vector<an_installed_file>& installed)
    : record_(record) {
  installed_.reserve(installed.size());
  for (const an_installed_file& file : installed) installed_.emplace(file.name, &file);
}

Outcome UpgradePlan::plan(int root, const std::vector<a_stream_ref>& refs) {
  files_.clear();
  for (const a_stream_ref& ref : refs) {
    const std::string path = normalised_path(*ref.name);
    a_planned_file& planned = files_[path];
    planned.selected = true;
    const auto recorded = record_.find(path);
    const auto found = installed_.find(path);
    if (recorded == record_.end() || found == installed_.end()) {
      planned.action = plan_unrecorded(root, path, planned.beside);
      continue;
    }
    const an_installed_file& now = *found->second;
    if (now.problem.failed()) {
      a_failure failure = now.problem;
      failure.subject = path;
      return failure;
    }
    const bool same_entry = std::memcmp(recorded->second.mac, ref.entry->mac, kDigestSize) == 0;
    if ((now.differences & kDifferenceMissing) != 0) {
      planned.action = an_upgrade_action::kAdd;
    } else if (changed_since_recorded(now)) {
      planned.action = an_upgrade_action::kKeepChanged;
      planned.beside = !same_entry && recorded->second.type != a_file_type::kDirectory;
    } else {
      planned.action = same_entry ? an_upgrade_action::kSame : an_upgrade_action::kReplace;
    }
  }
  for (const auto& [path, file] : record_) {
    if (files_.count(path) != 0) continue;
    a_planned_file& planned = files_[path];
    const auto found = installed_.find(path);
    const bool changed = found != installed_.end() && (found->second->problem.failed() ||
                                                       (changed_since_recorded(*found->second) &&
                                                        (found->second->differences & kDifferenceMissing) == 0));
    planned.action = changed ? an_upgrade_action::kKeepChanged : an_upgrade_action::kRemove;
  }
  return Outcome();
}

a_file_decision UpgradePlan::decision(const std::string& path) const {
  const auto found = files_.find(path);
  if (found == files_.end()) return a_file_decision::kWrite;
  switch (found->second.action) {
    case an_upgrade_action::kSame: return a_file_decision::kSkip;
    case an_upgrade_action::kKeepChanged:
      return found->second.beside ? a_file_decision::kWriteBeside : a_file_decision::kSkip;
    default: return a_file_decision::kWrite;
  }
}

std::vector<std::string> UpgradePlan::removals() const {
  std::vector<std::string> out;
  for (const auto& [path, file] : files_)
    if (file.action == an_upgrade_action::kRemove) out.push_back(path);
  return out;
}

void UpgradePlan::apply(an_install_record& record, const std::map<std::string, a_recorded_file>& committed,
                        bool complete) const {
  std::map<std::string, a_recorded_file> files;
  if (!complete) files = record_;
  for (const auto& [path, planned] : files_) {
    if (!planned.selected) continue;
    // What was written for the path: at it, or beside it (then the record
    // holds the release's version, which the kept file differs from).
    auto written = committed.find(planned.beside ? path + kBesideSuffix : path);
    if (written != committed.end()) {
      files[path] = written->second;
    } else if (complete) {
      const auto recorded = record_.find(path);
      if (recorded != record_.end()) files[path] = recorded->second;
    }
  }
  record.files.clear();
  for (const auto& [path, file] : files) record.files.put(path, file);
  if (complete) record.installs.clear();
}
