#include "crypto/sha256_engine.h"

#include <atomic>

namespace {

// The process-wide choice, made at the first use. Any thread may hash while
// a test switches engines: both compute the same function.
std::atomic<Sha256Compress>& current_compress() {
  static std::atomic<Sha256Compress> compress{sha256_extensions_supported() ? sha256_compress_extensions
                                                                            : sha256_compress_portable};
  return compress;
}

}  // namespace

Sha256Compress sha256_compress() { return current_compress().load(std::memory_order_relaxed); }

Sha256Engine sha256_engine() {
  return sha256_compress() == sha256_compress_extensions ? Sha256Engine::kShaExtensions : Sha256Engine::kPortable;
}

bool sha256_select_engine(Sha256Engine engine) {
  switch (engine) {
    case Sha256Engine::kPortable:
      current_compress().store(sha256_compress_portable, std::memory_order_relaxed);
      return true;
    case Sha256Engine::kShaExtensions:
      if (!sha256_extensions_supported()) return false;
      current_compress().store(sha256_compress_extensions, std::memory_order_relaxed);
      return true;
  }
  return false;
}
