#include <stdio.h>

#include <utility>

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

unsigned long long CommandOptions::options_lacking_data(Tic& tic) {
  // An option lacks a file when the file's mask and the option's selection
  // mask share a bit; so the options that lack any file are those sharing a
  // bit with the union of the masks of the files that lack their data. One
  // walk of the table answers for every option.
  unsigned long long lacking = 0;
  tic.for_each_selected("*", true, [&](const std::string& name, const TicTocEntry& entry) {
    if (!is_control_name(name) && entry.data_offset == 0 && entry.aux_c == 0) lacking |= entry.mask;
  });
  return lacking;
}

bool CommandOptions::missing_files(Tic& tic, const std::string& option) {
  return (options_lacking_data(tic) & std::as_const(tic.get_toc().options).option_mask(option)) != 0;
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
  const unsigned long long lacking = options_lacking_data(set);
  const TicOptions& options = set.get_toc().options;
  Json shown = Json::array();
  for (const auto& option : options.option_map) {
    const std::string& name = option.first;
    int number = name.empty() ? 0 : kNamed;
    const ControlMapEntry& entry = control[name];
    if (entry.available) {
      number |= kAvailable;
      if ((lacking & options.option_mask(name)) == 0) number |= kComplete;
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
