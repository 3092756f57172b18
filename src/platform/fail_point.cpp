#include "platform/fail_point.h"

#ifdef KESTREL_FAIL_POINTS

#include <signal.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <string>

namespace {

struct a_target {
  std::string point;  // empty: none named
  uint64_t passage = 1;
};

// KESTREL_FAIL_AT, read once.
const a_target& target() {
  static const a_target parsed = [] {
    a_target t;
    const char* named = getenv("KESTREL_FAIL_AT");
    if (named == nullptr) return t;
    t.point = named;
    const size_t colon = t.point.find(':');
    if (colon != std::string::npos) {
      t.passage = strtoull(t.point.c_str() + colon + 1, nullptr, 10);
      t.point.resize(colon);
    }
    return t;
  }();
  return parsed;
}

std::atomic<uint64_t> passages{0};

}  // namespace

void fail_point(const char* point) {
  const a_target& t = target();
  if (t.point.empty() || strcmp(point, t.point.c_str()) != 0) return;
  if (++passages == t.passage) raise(SIGKILL);
}

#endif
