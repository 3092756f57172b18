#include "install/plan_document.h"

#include <dirent.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <set>
#include <string>

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
bool writes(int root, const UpgradePlan::a_step& step) {
  switch (step.planned.action) {
    case an_upgrade_action::kReplace: return true;
    case an_upgrade_action::kAdd: return step.recorded || !directory_stands(root, *step.path);
    case an_upgrade_action::kKeepChanged: return step.planned.beside;
    default: return false;
  }
}

// Whether the removals of |plan| take anything away: a recorded file or
// link still there, or a recorded directory left with nothing in it.
// Deeper paths come later in byte-wise order, so walking backwards sees a
// directory's entries before the directory.
bool removes_something(const UpgradePlan& plan, int root) {
  std::set<std::string> gone;
  bool removes = false;
  const auto& removals = plan.removals();
  for (auto it = removals.rbegin(); it != removals.rend(); ++it) {
    if (!it->there) {
      gone.insert(it->path);
    } else if (!it->directory || holds_only(root, it->path, gone)) {
      gone.insert(it->path);
      removes = true;
    }
  }
  return removes;
}

}  // namespace

// Walked twice: once for what the document says first of the plan (the
// counts), once for its files.
Outcome put_plan_document(const UpgradePlan& plan, Json head, int root,
                          const std::function<void(const std::string&)>& put) {
  static const an_upgrade_action kActions[] = {an_upgrade_action::kAdd, an_upgrade_action::kReplace,
                                               an_upgrade_action::kSame, an_upgrade_action::kKeepChanged,
                                               an_upgrade_action::kRemove};
  size_t counts[5] = {};
  bool changes = false;
  if (Outcome counted = plan.walk([&](const UpgradePlan::a_step& step) {
        ++counts[static_cast<size_t>(step.planned.action)];
        changes = changes || writes(root, step);
      });
      !counted)
    return counted;
  head["changes"] = changes || removes_something(plan, root);
  head["counts"] = Json::object();
  for (an_upgrade_action action : kActions)
    head["counts"][upgrade_action_word(action)] = counts[static_cast<size_t>(action)];
  head["files"] = Json::array();
  JsonListWriter list(head, put);
  const Outcome walked = plan.walk([&](const UpgradePlan::a_step& step) {
    Json one = Json::object();
    one["name"] = json_text(*step.path);
    one["action"] = upgrade_action_word(step.planned.action);
    if (step.planned.beside) one["beside"] = json_text(*step.path + kBesideSuffix);
    list.item(one);
  });
  list.end();
  return walked;
}
