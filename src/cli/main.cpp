// kestrel: installs the Tarnvale database product from TIC archives.
#include <cstdlib>
#include <cstring>

#include "cli/command_help.h"
#include "cli/commands.h"
#include "cli/own_stamp.h"
#include "platform/provider.h"

int main(int argc, char** argv) {
  ProviderError provider_error;
  crypto_provider_initialise(provider_error, "kestrel");
  locale_initialise_tables();
  keep_large_blocks_for_reuse();

  int status;
  // Switch words before any command word: the program's own version, and
  // the command words.
  if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
    status = print_own_version();
  } else if (argc >= 2 && std::strcmp(argv[1], "--commands") == 0) {
    status = print_command_words();
  } else {
    std::unique_ptr<Command> command = make_command(argc, argv);
    status = command->help_asked ? print_command_help(*command->help) : command->run();
  }

  crypto_provider_finalise();
  std::exit(status);
}
