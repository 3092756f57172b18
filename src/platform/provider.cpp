#include "platform/provider.h"

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
  // Byte-wise comparison and the fixed message texts need the C locale's
  // character classes; make that explicit rather than inherited.
  std::setlocale(LC_CTYPE, "C");
}
