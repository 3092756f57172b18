#include "stamp/class_stamper.h"

#include <cstring>

#include "stamp/dbversion.h"

namespace {

const char kVersionClassKey[] = "VERSION_CLASS=";

}  // namespace

void a_post_tag_matcher::set_tag(const char* new_tag) {
  clear_tag();
  if (new_tag == nullptr) return;
  const size_t length = std::strlen(new_tag);
  tag = std::make_unique<char[]>(length + 1);
  std::memcpy(tag.get(), new_tag, length + 1);
  pending = static_cast<uint32_t>(length);
}

void a_post_tag_matcher::clear_tag() {
  tag.reset();
  pending = 0;
  matched = 0;
}

int a_post_tag_matcher::match(const char* buffer, unsigned int length) {
  if (!tag) return -2;
  if (pending == 0) return 0;

  // The tag (or the part of it still pending) must lie wholly in the buffer.
  // A part carried over from the previous buffer can only continue at index
  // 0; once it breaks off, the whole tag is searched from the next index on.
  uint64_t i = 0;
  for (; i + pending <= length; ++i) {
    if (std::memcmp(tag.get() + matched, buffer + i, pending) == 0) {
      const uint64_t after = i + pending;
      matched += pending;
      pending = 0;
      return after == length ? -1 : static_cast<int>(after);
    }
    if (matched != 0) {
      pending += matched;
      matched = 0;
    }
  }

  if (matched != 0) {
    // A carried part and a buffer shorter than the rest of the tag (no scan
    // ran): the whole buffer must continue the tag, else the part is dropped
    // and the buffer is searched below for a new start of the tag.
    if (std::memcmp(tag.get() + matched, buffer, length) == 0) {
      matched += length;
      pending -= length;
      return -1;
    }
    pending += matched;
    matched = 0;
  }

  // Remember a start of the tag at the very end of the buffer: the first
  // position whose rest of the buffer is shorter than the tag and equals its
  // beginning.
  if (pending <= 1 || i >= length) return -1;
  for (uint64_t p = i; p < length; ++p) {
    const uint64_t rest = length - p;
    if (rest < pending && std::memcmp(buffer + p, tag.get(), rest) == 0) {
      matched += static_cast<uint32_t>(rest);
      pending -= static_cast<uint32_t>(rest);
      break;
    }
  }
  return -1;
}

a_version_class_stamper::a_version_class_stamper(const char* new_class) {
  version_class[0] = new_class != nullptr ? new_class[0] : '\0';
  version_class[1] = version_class[0] != '\0' ? new_class[1] : '\0';
  matcher.set_tag(kStampMarker);
}

unsigned a_version_class_stamper::operator()(char* buffer, unsigned int length) {
  if (version_class[0] == '\0' || written == 2) return 1;
  if (length == 0) return 0;

  if (state == 2) {
    buffer[0] = version_class[1];
    ++written;
    return written == 2 ? 1 : 0;
  }
  if (state == 0) {
    if (matcher.match(buffer, length) < 0) return 0;
    // The key is looked for from the start of this same buffer.
    state = 1;
    matcher.set_tag(kVersionClassKey);
  }
  const int r = matcher.match(buffer, length);
  if (r < 0) return 0;
  state = 2;
  const auto at = static_cast<unsigned int>(r);
  buffer[at] = version_class[0];
  ++written;
  if (at + 1 < length) {
    buffer[at + 1] = version_class[1];
    ++written;
  }
  return written == 2 ? 1 : 0;
}
