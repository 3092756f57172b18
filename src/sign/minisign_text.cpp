#include "sign/minisign_text.h"

#include <errno.h>
#include <sodium.h>

#include <utility>

#include "platform/fd.h"
#include "sign/sign_steps.h"

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

Result<std::string> read_minisign_file(const std::string& path) {
  errno = 0;
  Result<UniqueFd> opened = open_regular_file(path.c_str());
  if (!opened) return opened.failure().as(kStepMinisignFile);
  // One byte more than the limit tells a file at the limit from a longer one.
  std::string bytes(kMinisignFileLimit + 1, '\0');
  const ssize_t got = read_full(opened->get(), bytes.data(), bytes.size());
  if (got < 0) return failure_of(kStepMinisignFile, path);
  if (static_cast<size_t>(got) > kMinisignFileLimit) return refusal_of(kStepMinisignFile, path, "file too large");
  bytes.resize(static_cast<size_t>(got));
  return Result<std::string>(std::move(bytes));
}
