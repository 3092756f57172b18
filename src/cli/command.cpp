#include <stdio.h>
#include <strings.h>

#include "cli/commands.h"
#include "sign/signature_check.h"
#include "tic/error.h"
#include "tic/archive/multi_tic.h"

const char kBanner[] = "Tarnvale Install Utility Version 17.0.11.7254";

void Command::usage() {}

int Command::run() { return -1; }

bool Command::handle_arg(ArgIterator&) { return false; }

void Command::parse_args() {
  auto it = args.begin();
  while (it != args.end()) {
    if (!handle_arg(it)) return;
    // A switch given as the last word has already been erased with no value
    // behind it; there is nothing left to erase.
    if (it != args.end()) it = args.erase(it);
  }
}

void Command::print_usage(const char* line) {
  fprintf(stderr, "%s\n", kBanner);
  fputs(line, stderr);
}

bool Command::take_switch(ArgIterator& it, const char* short_form, const char* long_form, std::string& value) {
  if (*it != short_form && *it != long_form) return false;
  it = args.erase(it);
  if (it != args.end()) value = *it;
  return true;
}

void CommandUsage::usage() {
  fprintf(stderr, "%s\n", kBanner);
  fprintf(stderr, "usage: %s <command> [options] [args [...]]\n", args.empty() ? "kestrel" : args.front().c_str());
}

int CommandUsage::run() {
  usage();
  return 0;
}

void CommandVersion::usage() { print_usage("usage: version <parameter> <file>\n"); }

void CommandValidate::usage() { print_usage("usage: validate <tic> [<tic> [...]]\n"); }

bool CommandWithDirectory::handle_arg(ArgIterator& it) { return take_switch(it, "-d", "--directory", directory); }

void CommandOptions::usage() { print_usage("usage: options [-d <install_dir>] <tic> [<tic> [...]]\n"); }

bool CommandWithOptions::handle_arg(ArgIterator& it) {
  return take_switch(it, "-o", "--options", options) || CommandWithDirectory::handle_arg(it);
}

void CommandSpace::usage() { print_usage("usage: space [-d <install_dir>] [-o <options>] <tic> [<tic> [...]]\n"); }

void CommandList::usage() {
  print_usage("usage: list [-a] [-d <install_dir>] [-o <options>] <tic> [<tic> [...]]\n");
}

bool CommandList::handle_arg(ArgIterator& it) {
  if (*it == "-a" || *it == "--all") {
    all = true;
    return true;
  }
  return CommandWithOptions::handle_arg(it);
}

void CommandInstall::usage() {
  print_usage("usage: install [-l <log>] [-b <backup_dir>] [-d <install_dir>] [-o <options>] <tic> [<tic> [...]]\n");
}

bool CommandInstall::handle_arg(ArgIterator& it) {
  return take_switch(it, "-l", "--log", log_file) || take_switch(it, "-b", "--backup", backup_dir) ||
         CommandWithOptions::handle_arg(it);
}

void CommandVerify::usage() {
  print_usage("usage: verify [-d <install_dir>] [-o <options>] <tic> [<tic> [...]]\n");
}

void CommandRemove::usage() {
  print_usage("usage: remove [-d <install_dir>] [-o <options>] <tic> [<tic> [...]]\n");
}

void CommandRestore::usage() { print_usage("usage: restore -b <backup_dir> [-d <install_dir>]\n"); }

bool CommandRestore::handle_arg(ArgIterator& it) {
  return take_switch(it, "-b", "--backup", backup_dir) || CommandWithDirectory::handle_arg(it);
}

std::unique_ptr<Command> make_command(int argc, char** argv) {
  std::unique_ptr<Command> command;
  if (argc >= 2) {
    const char* word = argv[1];
    if (strcasecmp(word, "install") == 0)
      command = std::make_unique<CommandInstall>();
    else if (strcasecmp(word, "list") == 0)
      command = std::make_unique<CommandList>();
    else if (strcasecmp(word, "options") == 0)
      command = std::make_unique<CommandOptions>();
    else if (strcasecmp(word, "space") == 0)
      command = std::make_unique<CommandSpace>();
    else if (strcasecmp(word, "validate") == 0)
      command = std::make_unique<CommandValidate>();
    else if (strcasecmp(word, "version") == 0)
      command = std::make_unique<CommandVersion>();
    else if (strcasecmp(word, "verify") == 0)
      command = std::make_unique<CommandVerify>();
    else if (strcasecmp(word, "remove") == 0)
      command = std::make_unique<CommandRemove>();
    else if (strcasecmp(word, "restore") == 0)
      command = std::make_unique<CommandRestore>();
    if (command) command->args.assign(argv + 2, argv + argc);
  }
  if (!command) {
    command = std::make_unique<CommandUsage>();
    if (argc > 0) command->args.assign(argv, argv + argc);
  }
  command->parse_args();
  return command;
}

std::string printable(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) c = '?';
  }
  return out;
}

void complain(const char* command, const std::string& subject, const std::string& cause) {
  fprintf(stderr, "kestrel: %s: %s: %s\n", command, printable(subject).c_str(), printable(cause).c_str());
}

void complain_recorded(const char* command, const std::string& fallback) {
  complain(command, error_subject().empty() ? fallback : error_subject(), error_cause());
}

std::string archive_problem(const Tic& member, int result) {
  if (!member.open_problem().empty()) return member.open_problem();
  if (member.descriptor() < 0) return "not open";
  return result == -1 ? "cannot compute the archive's MAC" : "archive does not match its MAC";
}

void complain_unreadable(const char* command, const MultiTic& set) {
  const Tic* member = set.failed_member();
  if (member != nullptr && member->path() != nullptr) complain(command, member->path(), archive_problem(*member, -1));
}

int check_signatures(const char* command, Tic& archives) {
  SignatureCheck check;
  if (check.start(archives) && check.finish()) return 0;
  complain(command, check.subject(), check.cause());
  return -1;
}
