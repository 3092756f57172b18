#include "tic/format/entry_name.h"

const char* entry_name_problem(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name[0] == '/') return "absolute path";
  for (std::string::size_type start = 0; start <= name.size();) {
    std::string::size_type end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0) return "\"..\" in path";
    start = end + 1;
  }
  return nullptr;
}
