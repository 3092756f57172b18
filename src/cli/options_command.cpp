#include <stdio.h>

#include "cli/commands.h"
#include "platform/json.h"
#include "tic/archive/multi_tic.h"

namespace {

// Bits of the number printed after each option name.
constexpr int kNamed = 1 | 8;
constexpr int kAvailable = 2;
constexpr int kComplete = 4;

bool is_control_name(const std::string& name) { return !name.empty() && name[0] == '#'; }

}  // namespace

bool CommandOptions::tic_options(Tic& tic, ControlMap& control) {
  const TicToc& toc = tic.get_toc();
  for (const auto& option : toc.options.option_map) {
    const std::string& name = option.first;
    if (name.empty()) continue;
    ControlMapEntry& entry = control[name];
    auto description = toc.options.description_map.find(name);
    if (description == toc.options.description_map.end()) {
      entry.control_file.clear();
      entry.available = true;
      continue;
    }
    if (entry.available) continue;
    entry.control_file = description->second;
    auto file = toc.file_map.find(entry.control_file);
    if (file != toc.file_map.end())
      entry.available = is_control_name(entry.control_file) || file->second.data_offset != 0;
  }
  return true;
}

bool CommandOptions::missing_files(Tic& tic, const std::string& option) {
  TicToc files;
  tic.list(files, option, true);
  for (const auto& [name, entry] : files.file_map) {
    if (!is_control_name(name) && entry.data_offset == 0 && entry.aux_c == 0) return true;
  }
  return false;
}

// One line of "name number " pairs in option-name order; the number tells
// whether the option is named (1|8), available (2) and complete (4). With
// --json one document {"options": [{"name", "number", "available",
// "complete", "control_file"}, ...]} in the same order, the control file
// null for an option without one. Whatever the set could read is
// reported, and an archive that stopped the reading is named on standard
// error; the status is always 0.
int CommandOptions::run() {
  ControlMap control;
  MultiTic set(args, false, nullptr, 0);
  set.read_toc(false);
  tic_options(set, control);
  Json shown = Json::array();
  for (const auto& option : set.get_toc().options.option_map) {
    const std::string& name = option.first;
    int number = name.empty() ? 0 : kNamed;
    const ControlMapEntry& entry = control[name];
    if (entry.available) {
      number |= kAvailable;
      if (!missing_files(set, name)) number |= kComplete;
    }
    if (!json) {
      printf("%s %d ", name.c_str(), number);
      continue;
    }
    shown.push_back({{"name", json_text(name)},
                     {"number", number},
                     {"available", (number & kAvailable) != 0},
                     {"complete", (number & kComplete) != 0},
                     {"control_file", entry.control_file.empty() ? Json() : json_text(entry.control_file)}});
  }
  if (json)
    printf("%s\n", json_document({{"options", shown}}).c_str());
  else
    printf("\n");
  complain_unreadable("options", set);
  return 0;
}
