#include "platform/provider.h"

#include <malloc.h>

#include <clocale>

namespace {

// The provider environment: constructed before main, destroyed at exit.
struct ProviderEnvironment {
  bool initialised = false;
  const char* client_label = nullptr;
};

ProviderEnvironment provider_environment;

}  // namespace

int crypto_provider_initialise(ProviderError& error, const char* client_label) {
  error.code = 0;
  provider_environment.initialised = true;
  provider_environment.client_label = client_label;
  return 0;
}

void crypto_provider_finalise() {
  provider_environment.initialised = false;
  provider_environment.client_label = nullptr;
}

void locale_initialise_tables() {
  // The C locale's rules, whatever the environment says, but with UTF-8 as
  // the character set: libarchive converts the names of pax headers between
  // UTF-8 and the locale's character set, and in plain C it cannot convert
  // a name that is not ASCII. With UTF-8 on both sides a UTF-8 name passes
  // unchanged, and one that is not UTF-8 is stored and read as raw bytes.
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr && std::setlocale(LC_CTYPE, "C.utf8") == nullptr)
    std::setlocale(LC_CTYPE, "C");
}

void keep_large_blocks_for_reuse() {
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
}
