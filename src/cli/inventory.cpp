#include "cli/inventory.h"

#include <stdio.h>

#include <algorithm>
#include <functional>
#include <set>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "cli/record_keeping.h"
#include "display/message.h"
#include "install/install_directory.h"
#include "install/install_record.h"
#include "install/record_store.h"
#include "platform/current_directory.h"
#include "platform/json.h"

namespace {

// Reads the record |name| of |store| into |record|: false when there is
// none to show; a record that cannot be read, or is refused, is named in
// one line, and one that others may have written is shown after a warning.
bool read_installation(const RecordStore& store, const std::string& name, an_install_record& record) {
  std::string why, warning;
  const std::string path = store.directory() + "/" + name;
  const a_record_read read = store.load_named(name, record, why, &warning);
  if (!warning.empty()) complain("status", path, "warning: " + warning);
  switch (read) {
    case a_record_read::kFound: return true;
    case a_record_read::kNone: return false;
    case a_record_read::kDamaged: complain("status", path, "damaged record: " + why); return false;
    default: complain("status", path, why); return false;
  }
}

// Hands |each| every installation recorded: the user's own records, then
// the system's of directories the user has none of.
void for_each_installation(const std::function<void(an_install_record&)>& each) {
  std::vector<RecordStore> stores{RecordStore(configured_state_directory())};
  const std::string system = system_state_directory();
  if (!system.empty() && system != stores.front().directory()) stores.emplace_back(system);
  std::set<std::string> seen;
  for (const RecordStore& store : stores) {
    std::vector<std::string> names;
    std::string why;
    if (!store.record_names(names, why)) {
      complain("status", store.directory(), why);
      continue;
    }
    for (const std::string& name : names) {
      if (!seen.insert(name).second) continue;
      an_install_record record;
      if (read_installation(store, name, record)) each(record);
    }
  }
}

// What --all shows of one installation.
struct an_inventory_entry {
  an_install_record head;  // without its files
  size_t files = 0;
  Json summary;
};

void print_entry(const an_inventory_entry& entry) {
  const an_install_record& record = entry.head;
  printf("directory %s\n", printable(record.directory).c_str());
  for (const std::string& product : record.products()) printf("  product %s\n", printable(product).c_str());
  for (const std::string& version : record.versions()) printf("  version %s\n", printable(version).c_str());
  const bool complete = !record.installs.empty() && record.installs.back().complete;
  printf("  complete %s\n", complete ? "yes" : "no");
  printf("  when %s\n", record.installs.empty() ? "-" : record.installs.back().when.c_str());
  const std::string options = record.option_text();
  printf("  options %s\n", options.empty() ? "-" : printable(options).c_str());
  printf("  files %zu\n", entry.files);
}

// The absolute path |path| names, its directories resolved but not its last
// element, so that a symbolic link is asked about and not its target.
std::string query_path(const std::string& path) {
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

// The name of |path| below the install directory |directory|, or empty when
// it does not lie below it.
std::string name_below(const std::string& directory, const std::string& path) {
  const std::string prefix = directory == "/" ? directory : directory + "/";
  if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return "";
  return path.substr(prefix.size());
}

}  // namespace

int print_installations(bool json) {
  std::vector<an_inventory_entry> entries;
  for_each_installation([&](an_install_record& record) {
    an_inventory_entry entry;
    entry.summary = record_summary(record);
    entry.files = record.files.size();
    record.files.clear();
    entry.head = std::move(record);
    entries.push_back(std::move(entry));
  });
  std::sort(entries.begin(), entries.end(),
            [](const an_inventory_entry& a, const an_inventory_entry& b) { return a.head.directory < b.head.directory; });
  if (json) {
    Json document = Json::object();
    document["installations"] = Json::array();
    for (const an_inventory_entry& entry : entries) document["installations"].push_back(entry.summary);
    printf("%s\n", json_document(document).c_str());
  } else {
    for (const an_inventory_entry& entry : entries) print_entry(entry);
  }
  if (entries.empty()) complain_as("kestrel", "status: nothing is recorded on this machine");
  return entries.empty() ? 1 : 0;
}

int print_recorded_files(const an_install_record& record, bool json) {
  Json files = Json::array();
  for (const auto& [name, file] : record.files) {
    const bool directory = file.type == a_file_type::kDirectory;
    char mode[8];
    snprintf(mode, sizeof mode, "%04o", file.mode & 07777);
    const std::string digest = directory ? "-" : hex_text(file.sha256, kDigestSize);
    if (!json) {
      printf("%s %s %llu %s %s\n", file_type_word(file.type), mode, static_cast<unsigned long long>(file.size),
             digest.c_str(), printable(name).c_str());
      continue;
    }
    Json one = Json::object();
    one["name"] = json_text(name);
    one["type"] = file_type_word(file.type);
    one["mode"] = mode;
    one["size"] = file.size;
    one["sha256"] = directory ? Json() : Json(digest);
    files.push_back(std::move(one));
  }
  if (json) {
    Json document = Json::object();
    document["directory"] = json_text(record.directory);
    document["files"] = std::move(files);
    printf("%s\n", json_document(document).c_str());
  }
  return 0;
}

int print_owners(const std::string& path, bool json) {
  const std::string query = query_path(path);
  std::vector<std::pair<std::string, Json>> owners;
  for_each_installation([&](an_install_record& record) {
    const std::string name = name_below(record.directory, query);
    const auto found = record.files.find(name);
    if (name.empty() || found == record.files.end()) return;
    Json owner = Json::object();
    owner["directory"] = json_text(record.directory);
    owner["name"] = json_text(name);
    owner["type"] = file_type_word(found->second.type);
    owners.emplace_back(record.directory, std::move(owner));
  });
  std::sort(owners.begin(), owners.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  if (json) {
    Json document = Json::object();
    document["path"] = json_text(query);
    document["owners"] = Json::array();
    for (auto& owner : owners) document["owners"].push_back(std::move(owner.second));
    printf("%s\n", json_document(document).c_str());
  } else {
    for (const auto& owner : owners) printf("%s\n", printable(owner.first).c_str());
  }
  if (owners.empty()) complain("status", query, "no recorded installation holds it");
  return owners.empty() ? 1 : 0;
}
