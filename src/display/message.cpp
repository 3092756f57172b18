#include "display/message.h"

#include <cstdio>
#include <cstddef>
#include <vector>

namespace {

// How many bytes at |at| are a C1 control written in UTF-8 (2), or 0.
size_t utf8_c1_length(const std::string& text, size_t at) {
  return at + 1 < text.size() && static_cast<unsigned char>(text[at]) == 0xc2 &&
                 static_cast<unsigned char>(text[at + 1]) >= 0x80 && static_cast<unsigned char>(text[at + 1]) <= 0x9f
             ? 2
             : 0;
}

// The length of the well-formed UTF-8 character at |at| that is not a C1
// control, or 0 when the bytes there are no such character.
size_t utf8_character_length(const std::string& text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  size_t length;
  unsigned min_second = 0x80, max_second = 0xbf;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) min_second = 0xa0;  // no overlong forms
    if (lead == 0xed) max_second = 0x9f;  // no surrogates
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) min_second = 0x90;
    if (lead == 0xf4) max_second = 0x8f;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const auto c = static_cast<unsigned char>(text[at + i]);
    if (c < (i == 1 ? min_second : 0x80) || c > (i == 1 ? max_second : 0xbf)) return 0;
  }
  return utf8_c1_length(text, at) != 0 ? 0 : length;
}

bool is_control_byte(unsigned char c) { return c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f); }

void append_escape(std::string& out, unsigned char c) {
  static const char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[c >> 4];
  out += kDigits[c & 0xf];
}

}  // namespace

std::string printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c >= 0x20 && c < 0x7f) {  // the common case: ASCII
      out += static_cast<char>(c);
      ++at;
    } else if (const size_t character = utf8_character_length(text, at)) {
      out.append(text, at, character);
      at += character;
    } else if (const size_t c1 = utf8_c1_length(text, at)) {
      for (size_t i = 0; i < c1; ++i) append_escape(out, static_cast<unsigned char>(text[at + i]));
      at += c1;
    } else {
      if (is_control_byte(c))
        append_escape(out, c);
      else
        out += static_cast<char>(c);
      ++at;
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
