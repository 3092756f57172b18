#include "install/upgrade_plan.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

#include "install/install_directory.h"
#include "install/recorded_files.h"
#include "install/side_by_side.h"
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
  size_t selected = 0;
  if (set.for_each_selected(selection, false, [&selected](const std::string&, const TicTocEntry&) { ++selected; }) == 0 &&
      selected == 0) {
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

namespace {

// A planned file in a byte: the action, whether the new version goes
// beside, and whether the selection installs it.
constexpr uint8_t kActionBits = 0x07;
constexpr uint8_t kBesideBit = 0x08;
constexpr uint8_t kSelectedBit = 0x10;

uint8_t packed(const a_planned_file& planned) {
  return static_cast<uint8_t>(static_cast<uint8_t>(planned.action) | (planned.beside ? kBesideBit : 0) |
                              (planned.selected ? kSelectedBit : 0));
}

a_planned_file unpacked(uint8_t byte) {
  a_planned_file planned;
  planned.action = static_cast<an_upgrade_action>(byte & kActionBits);
  planned.beside = (byte & kBesideBit) != 0;
  planned.selected = (byte & kSelectedBit) != 0;
  return planned;
}

}  // namespace

// The record's files come from their comparison with what lies below the
// install directory, a batch at a time in name order; the selection is
// walked beside them.
Outcome UpgradePlan::plan(int root, unsigned jobs, Tic& set, const std::string& selection) {
  set_ = &set;
  selection_ = selection;
  size_t count = 0;
  if (set.for_each_selected(selection, false, [&count](const std::string&, const TicTocEntry&) { ++count; }) != 0)
    return set.read_failure();
  selected_.assign(count, 0);
  unselected_.clear();
  removals_.clear();
  unreadable_ = a_failure{};
  SelectionCursor cursor;
  if (Outcome opened = cursor.open(set, selection); !opened) return opened;
  bool more = cursor.next();
  const Outcome compared =
      compare_recorded_files(recorded_, root, jobs, [&](const an_installed_file& now, const a_recorded_file& recorded) {
        for (; more && *cursor.current().path < now.name; more = cursor.next())
          plan_selected(root, cursor.current(), nullptr, nullptr);
        if (!more || *cursor.current().path != now.name) return plan_unselected(now.name, recorded, now);
        plan_selected(root, cursor.current(), &recorded, &now);
        more = cursor.next();
      });
  if (!compared) return compared;
  for (; more; more = cursor.next()) plan_selected(root, cursor.current(), nullptr, nullptr);
  if (unreadable_.failed()) return unreadable_;
  return Outcome();
}

void UpgradePlan::plan_selected(int root, const a_selected_path& selected, const a_recorded_file* recorded,
                                const an_installed_file* now) {
  a_planned_file planned;
  planned.selected = true;
  const std::string& path = *selected.path;
  if (recorded == nullptr) {
    planned.action = plan_unrecorded(root, path, planned.beside);
  } else if (now->problem.failed()) {
    if (!unreadable_.failed()) unreadable_ = now->problem.about(path);
  } else {
    const bool same_entry = std::memcmp(recorded->mac, selected.entry->mac, kDigestSize) == 0;
    if ((now->differences & kDifferenceMissing) != 0) {
      planned.action = an_upgrade_action::kAdd;
    } else if (changed_since_recorded(*now)) {
      planned.action = an_upgrade_action::kKeepChanged;
      planned.beside = !same_entry && recorded->type != a_file_type::kDirectory;
    } else {
      planned.action = same_entry ? an_upgrade_action::kSame : an_upgrade_action::kReplace;
    }
  }
  selected_[selected.rank] = packed(planned);
}

void UpgradePlan::plan_unselected(const std::string& path, const a_recorded_file& recorded,
                                  const an_installed_file& now) {
  const bool missing = (now.differences & kDifferenceMissing) != 0;
  const bool changed = now.problem.failed() || (changed_since_recorded(now) && !missing);
  a_planned_file planned;
  planned.action = changed ? an_upgrade_action::kKeepChanged : an_upgrade_action::kRemove;
  unselected_.push_back(packed(planned));
  if (!changed) removals_.push_back({path, !missing, recorded.type == a_file_type::kDirectory});
}

Outcome UpgradePlan::walk(const std::function<void(const a_step&)>& each) const {
  size_t unselected = 0;
  return walk_side_by_side(recorded_, *set_, selection_, [&](const a_path_pair& pair) {
    a_step step;
    step.path = pair.path;
    step.recorded = pair.recorded != nullptr;
    if (pair.selected != nullptr)
      step.planned = unpacked(selected_[pair.selected->rank]);
    else if (unselected < unselected_.size())
      step.planned = unpacked(unselected_[unselected++]);
    each(step);
  });
}

a_file_decision UpgradePlan::decision(const a_stream_ref& ref) const {
  if (ref.rank >= selected_.size()) return a_file_decision::kWrite;
  const a_planned_file planned = unpacked(selected_[ref.rank]);
  switch (planned.action) {
    case an_upgrade_action::kSame: return a_file_decision::kSkip;
    case an_upgrade_action::kKeepChanged: return planned.beside ? a_file_decision::kWriteBeside : a_file_decision::kSkip;
    default: return a_file_decision::kWrite;
  }
}
