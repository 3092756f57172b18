// kestrel: installs the Tarnvale database product from TIC archives.
#include <cstdlib>

#include "cli/commands.h"
#include "platform/provider.h"

int main(int argc, char** argv) {
  ProviderError provider_error;
  crypto_provider_initialise(provider_error, "kestrel");
  locale_initialise_tables();

  int status;
  {
    std::unique_ptr<Command> command = make_command(argc, argv);
    status = command->run();
  }

  crypto_provider_finalise();
  std::exit(status);
}
