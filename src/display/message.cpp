#include "display/message.h"

#include <cstdio>
#include <vector>

std::string printable(const std::string& text, a_control_shown shown) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7f) {
      out += c;
    } else if (shown == a_control_shown::kQuestionMark) {
      out += '?';
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", u);
      out += escaped;
    }
  }
  return out;
}

void complain_as(const char* program, const std::string& text) {
  const std::string line = std::string(program) + ": " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void vcomplain_as(const char* program, const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, again);
  va_end(again);
  std::vector<char> text(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  complain_as(program, text.data());
}
