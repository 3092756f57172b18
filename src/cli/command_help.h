// What `kestrel <command> --help` prints: the command's usage line, what it
// does, and every switch it takes, on standard output.
//
//   usage: kestrel list [-a] [-d <install_dir>] [-o <options>] [--json] <tic> [<tic> ...]
//
//   <what the command does>
//
//   Switches, before the first archive name:
//     -a, --all                     <what it does>
//         --json                    <what it does>
//
// A switch line starts with two blanks and the switch's forms, the value
// in angle brackets; the bash completion (completion/kestrel) reads the
// usage line and these lines, so adding a command or a switch here is all
// it takes to complete it. It also reads from the text of -d whether
// relative archive names are looked up in the install directory ("relative
// archive ... names are looked up in it").
#pragma once

#include <cstddef>

struct a_switch_help {
  const char* forms;  // "-d, --directory <install_dir>", or "    --json"
  const char* text;   // one paragraph, wrapped when printed
};

struct a_command_help {
  const char* synopsis;     // the usage line after "usage: kestrel "
  const char* description;  // paragraphs separated by "\n\n", wrapped when printed
  const a_switch_help* switches;
  size_t switch_count;
  const char* switches_heading;  // "Switches, before the first archive name:"
};

// The help of each command.
extern const a_command_help kInstallHelp;
extern const a_command_help kListHelp;
extern const a_command_help kSpaceHelp;
extern const a_command_help kOptionsHelp;
extern const a_command_help kValidateHelp;
extern const a_command_help kVersionHelp;
extern const a_command_help kVerifyHelp;
extern const a_command_help kRemoveHelp;
extern const a_command_help kRestoreHelp;
extern const a_command_help kStatusHelp;
extern const a_command_help kUpgradeHelp;

// Prints |help| on standard output, wrapped at 79 columns; 0.
int print_command_help(const a_command_help& help);
