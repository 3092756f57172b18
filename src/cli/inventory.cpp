#include "cli/inventory.h"

#include <stdio.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "display/message.h"
#include "install/inventory.h"
#include "platform/json.h"

namespace {

// A record that cannot be shown is named in one line.
void complain_about(const a_failure& failure) { complain("status", failure.subject, failure.text()); }

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

}  // namespace

int print_installations(bool json) {
  std::vector<an_inventory_entry> entries;
  for_each_installation(complain_about, [&](an_install_record& record) {
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

// With --json the document is written as the record is walked.
int print_recorded_files(const an_install_record& record, bool json) {
  Json head = Json::object();
  head["directory"] = json_text(record.directory);
  head["files"] = Json::array();
  std::unique_ptr<JsonListWriter> list;
  if (json) list = std::make_unique<JsonListWriter>(head, [](const std::string& piece) { fputs(piece.c_str(), stdout); });
  const Outcome walked = record.files.walk([&](const std::string& name, const a_recorded_file& file) {
    const bool directory = file.type == a_file_type::kDirectory;
    char mode[8];
    snprintf(mode, sizeof mode, "%04o", file.mode & 07777);
    const std::string digest = directory ? "-" : hex_text(file.sha256, kDigestSize);
    if (!json) {
      printf("%s %s %llu %s %s\n", file_type_word(file.type), mode, static_cast<unsigned long long>(file.size),
             digest.c_str(), printable(name).c_str());
      return true;
    }
    Json one = Json::object();
    one["name"] = json_text(name);
    one["type"] = file_type_word(file.type);
    one["mode"] = mode;
    one["size"] = file.size;
    one["sha256"] = directory ? Json() : Json(digest);
    list->item(one);
    return true;
  });
  if (list) list->end();
  if (!walked) {
    complain("status", record.directory, walked.failure().text());
    return -1;
  }
  return 0;
}

int print_owners(const std::string& path, bool json) {
  const std::string query = owned_path(path);
  std::vector<std::pair<std::string, Json>> owners;
  for_each_installation(complain_about, [&](an_install_record& record) {
    const std::string name = name_below(record.directory, query);
    a_recorded_file found;
    if (name.empty() || !record.files.find(name, found)) return;
    Json owner = Json::object();
    owner["directory"] = json_text(record.directory);
    owner["name"] = json_text(name);
    owner["type"] = file_type_word(found.type);
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
