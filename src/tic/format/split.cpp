#include "tic/format/split.h"

bool split(const std::string& text, const std::string& separator, std::vector<std::string>& out) {
  if (separator.empty()) {
    out.push_back(text);
    return true;
  }
  std::string::size_type start = 0;
  for (;;) {
    std::string::size_type at = text.find(separator, start);
    if (at == std::string::npos) break;
    out.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  out.push_back(text.substr(start));
  return true;
}
