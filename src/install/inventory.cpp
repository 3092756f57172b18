#include "install/inventory.h"

#include <set>
#include <vector>

#include "install/install_directory.h"
#include "install/install_steps.h"
#include "install/record_keeping.h"
#include "install/record_store.h"
#include "platform/current_directory.h"

namespace {

// Reads the record |name| of |store| into |record|: false when there is
// none to show.
bool read_installation(const RecordStore& store, const std::string& name, an_install_record& record,
                       const std::function<void(const a_failure&)>& noted) {
  a_failure warning;
  const Result<bool> read = store.load_named(name, record, &warning);
  if (warning.failed()) noted((warning.cause = "warning: " + warning.cause, warning));
  if (read) return read.value();
  a_failure failure = read.failure();
  if (failure.step == kStepDamagedRecord) failure.cause = "damaged record: " + failure.cause;
  noted(failure);
  return false;
}

}  // namespace

void for_each_installation(const std::function<void(const a_failure&)>& noted,
                           const std::function<void(an_install_record&)>& each) {
  std::vector<RecordStore> stores{RecordStore(configured_state_directory())};
  const std::string system = system_state_directory();
  if (!system.empty() && system != stores.front().directory()) stores.emplace_back(system);
  std::set<std::string> seen;
  for (const RecordStore& store : stores) {
    std::vector<std::string> names;
    if (Outcome listed = store.record_names(names); !listed) {
      noted(listed.failure());
      continue;
    }
    for (const std::string& name : names) {
      if (!seen.insert(name).second) continue;
      an_install_record record;
      if (read_installation(store, name, record, noted)) each(record);
    }
  }
}

std::string owned_path(const std::string& path) {
  std::string absolute = path;
  std::string here;
  if ((absolute.empty() || absolute[0] != '/') && current_directory(here)) absolute = here + "/" + path;
  while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  const size_t slash = absolute.rfind('/');
  const std::string last = absolute.substr(slash + 1);
  if (last.empty() || last == "." || last == "..") return "/" + normalised_path(canonical_or_given(absolute));
  // A parent that cannot be resolved (it is gone) is taken as written.
  const std::string parent = "/" + normalised_path(canonical_or_given(slash == 0 ? "/" : absolute.substr(0, slash)));
  return (parent == "/" ? "" : parent) + "/" + last;
}

std::string name_below(const std::string& directory, const std::string& path) {
  const std::string prefix = directory == "/" ? directory : directory + "/";
  if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return "";
  return path.substr(prefix.size());
}
