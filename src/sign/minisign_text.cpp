#include "sign/minisign_text.h"

#include <errno.h>
#include <sodium.h>

#include <cstring>

#include "platform/fd.h"

std::vector<std::string_view> minisign_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

bool decode_minisign_base64(std::string_view line, unsigned char* out, size_t size) {
  size_t decoded = 0;
  const char* end = nullptr;
  if (sodium_base642bin(out, size, line.data(), line.size(), nullptr, &decoded, &end,
                        sodium_base64_VARIANT_ORIGINAL) != 0)
    return false;
  return decoded == size && end == line.data() + line.size();
}

bool read_minisign_file(const std::string& path, std::string* text, std::string* why, bool* missing) {
  if (missing != nullptr) *missing = false;
  errno = 0;
  UniqueFd fd(open_regular_file(path.c_str(), *why));
  if (!fd.valid()) {
    if (missing != nullptr) *missing = errno == ENOENT;
    return false;
  }
  // One byte more than the limit tells a file at the limit from a longer one.
  std::string bytes(kMinisignFileLimit + 1, '\0');
  const ssize_t got = read_full(fd.get(), bytes.data(), bytes.size());
  if (got < 0) {
    *why = std::strerror(errno);
    return false;
  }
  if (static_cast<size_t>(got) > kMinisignFileLimit) {
    *why = "file too large";
    return false;
  }
  bytes.resize(static_cast<size_t>(got));
  *text = std::move(bytes);
  return true;
}
