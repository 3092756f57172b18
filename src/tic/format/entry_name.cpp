#include "tic/format/entry_name.h"

#include "tic/format/format_steps.h"

bool holds_control_character(const std::string& name) {
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7f) return true;
    // U+0080 to U+009F in UTF-8.
    if (c == 0xc2 && i + 1 < name.size() && (static_cast<unsigned char>(name[i + 1]) & 0xe0) == 0x80) return true;
  }
  return false;
}

Outcome valid_entry_name(const std::string& name) {
  auto refuse = [&name](const char* why) { return refusal_of(kStepEntryName, name, why); };
  if (name.empty()) return refuse("empty name");
  if (name[0] == '/') return refuse("absolute path");
  if (holds_control_character(name)) return refuse("control character in name");
  for (std::string::size_type start = 0; start <= name.size();) {
    std::string::size_type end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0) return refuse("\"..\" in path");
    start = end + 1;
  }
  return Outcome();
}
