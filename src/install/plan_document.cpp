#include "install/plan_document.h"

#include <dirent.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <set>
#include <string>
#include <unordered_map>

#include "install/install_directory.h"
#include "install/upgrade_plan.h"
#include "platform/unique.h"

namespace {

// True when every entry of the directory |path| below |root| is one of
// |gone|: once they are taken away, the directory goes too. False when
// it cannot be read (it then stays, as far as anyone can say).
bool holds_only(int root, const std::string& path, const std::set<std::string>& gone) {
  a_reached_directory at;
  a_failure ignored;
  if (reach_directory(root, path, at, ignored) != a_reach::kReached) return false;
  const int fd = dup(at.directory.get());
  Unique<DIR, closedir> directory(fd >= 0 ? fdopendir(fd) : nullptr);
  if (!directory) {
    if (fd >= 0) close(fd);
    return false;
  }
  while (const struct dirent* entry = readdir(directory.get())) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    if (gone.count(join_path(path, entry->d_name)) == 0) return false;
  }
  return true;
}

// True when a directory stands at |path| below |root|: a directory entry
// added there writes nothing, the directory stays as it is.
bool directory_stands(int root, const std::string& path) {
  a_reached_directory at;
  a_failure ignored;
  return reach_directory(root, path, at, ignored) == a_reach::kReached;
}

// Whether carrying out |planned| for |path| writes something: a new or
// replaced file, a directory made, a new version beside a kept file.
bool writes(int root, const std::map<std::string, a_recorded_file>& record, const std::string& path, const a_planned_file& planned) {
  switch (planned.action) {
    case an_upgrade_action::kReplace: return true;
    case an_upgrade_action::kAdd: return record.count(path) != 0 || !directory_stands(root, path);
    case an_upgrade_action::kKeepChanged: return planned.beside;
    default: return false;
  }
}

// Whether the removals of |plan| take anything away: a recorded file or
// link still there, or a recorded directory left with nothing in it.
// Deeper paths come later in byte-wise order, so walking backwards sees a
// directory's entries before the directory.
bool removes_something(const UpgradePlan& plan, const std::map<std::string, a_recorded_file>& record,
                       const std::unordered_map<std::string, const an_installed_file*>& installed, int root) {
  std::set<std::string> gone;
  bool removes = false;
  const auto& files = plan.files();
  for (auto it = files.rbegin(); it != files.rend(); ++it) {
    if (it->second.action != an_upgrade_action::kRemove) continue;
    const std::string& path = it->first;
    const auto recorded = record.find(path);
    const auto found = installed.find(path);
    const bool there = found != installed.end() && (found->second->differences & kDifferenceMissing) == 0;
    if (!there) {
      gone.insert(path);
    } else if (recorded == record.end() || recorded->second.type != a_file_type::kDirectory) {
      gone.insert(path);
      removes = true;
    } else if (holds_only(root, path, gone)) {
      gone.insert(path);
      removes = true;
    }
  }
  return removes;
}

}  // namespace

void add_plan_to_document(const UpgradePlan& plan, const std::map<std::string, a_recorded_file>& record,
                          const std::vector<an_installed_file>& installed, int root, Json& document) {
  static const an_upgrade_action kActions[] = {an_upgrade_action::kAdd, an_upgrade_action::kReplace,
                                               an_upgrade_action::kSame, an_upgrade_action::kKeepChanged,
                                               an_upgrade_action::kRemove};
  Json counts = Json::object();
  for (an_upgrade_action action : kActions) counts[upgrade_action_word(action)] = 0;
  Json files = Json::array();
  bool changes = false;
  for (const auto& [path, planned] : plan.files()) {
    Json one = Json::object();
    one["name"] = json_text(path);
    one["action"] = upgrade_action_word(planned.action);
    if (planned.beside) one["beside"] = json_text(path + kBesideSuffix);
    files.push_back(std::move(one));
    auto& count = counts[upgrade_action_word(planned.action)];
    count = count.get<size_t>() + 1;
    changes = changes || writes(root, record, path, planned);
  }
  std::unordered_map<std::string, const an_installed_file*> by_name;
  for (const an_installed_file& file : installed) by_name.emplace(file.name, &file);
  document["changes"] = changes || removes_something(plan, record, by_name, root);
  document["counts"] = std::move(counts);
  document["files"] = std::move(files);
}
