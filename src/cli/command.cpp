#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/command_help.h"
#include "cli/commands.h"
#include "display/message.h"
#include "platform/ordered_jobs.h"
#include "tic/archive/multi_tic.h"

const char kBanner[] = "Tarnvale Install Utility Version 17.0.11.7254";

void Command::usage() {}

int Command::run() { return -1; }

bool Command::handle_arg(ArgIterator &) { return false; }

namespace {

// "-h" asks for help only where it cannot have named an archive before:
// alone after the command word, with no file "-h" in the current directory.
bool is_short_help(const std::vector<std::string> &args) {
  struct stat st;
  return args.size() == 1 && args[0] == "-h" && lstat("-h", &st) != 0 && errno == ENOENT;
}

}  // namespace

void Command::parse_args() {
  if (help != nullptr && is_short_help(args)) {
    help_asked = true;
    return;
  }
  auto it = args.begin();
  while (it != args.end()) {
    if (help != nullptr && *it == "--help") {
      help_asked = true;
      return;
    }
    if (!handle_arg(it)) return;
    // A switch given as the last word has already been erased with no value
    // behind it; there is nothing left to erase.
    if (it != args.end()) it = args.erase(it);
  }
}

void Command::print_usage(const char *line) {
  fprintf(stderr, "%s\n", kBanner);
  fputs(line, stderr);
}

bool Command::take_switch(ArgIterator &it, const char *short_form, const char *long_form, std::string &value) {
  if (*it != short_form && *it != long_form) return false;
  it = args.erase(it);
  if (it != args.end()) value = *it;
  return true;
}

bool Command::take_flag(ArgIterator &it, const char *short_form, const char *long_form, bool &value) {
  if (*it != short_form && (long_form == nullptr || *it != long_form)) return false;
  value = true;
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

bool CommandWithDirectory::handle_arg(ArgIterator &it) { return take_switch(it, "-d", "--directory", directory); }

void CommandOptions::usage() { print_usage("usage: options [-d <install_dir>] <tic> [<tic> [...]]\n"); }

bool CommandOptions::handle_arg(ArgIterator &it) {
  return take_flag(it, "--json", nullptr, json) || CommandWithDirectory::handle_arg(it);
}

bool CommandWithOptions::handle_arg(ArgIterator &it) {
  return take_switch(it, "-o", "--options", options) || CommandWithDirectory::handle_arg(it);
}

void CommandSpace::usage() { print_usage("usage: space [-d <install_dir>] [-o <options>] <tic> [<tic> [...]]\n"); }

void CommandList::usage() {
  print_usage(
      "usage: list [-a] [-d <install_dir>] [-o <options>] <tic> [<tic> "
      "[...]]\n");
}

bool CommandList::handle_arg(ArgIterator &it) {
  return take_flag(it, "-a", "--all", all) || take_flag(it, "--json", nullptr, json) ||
         CommandWithOptions::handle_arg(it);
}

void CommandInstall::usage() {
  print_usage(
      "usage: install [-l <log>] [-b <backup_dir>] [-d <install_dir>] "
      "[-o <options>] <tic> [<tic> [...]]\n");
}

bool CommandInstall::handle_arg(ArgIterator &it) {
  return take_flag(it, "-q", "--quiet", quiet) || take_switch(it, "-l", "--log", log_file) ||
         take_switch(it, "-b", "--backup", backup_dir) || CommandWithOptions::handle_arg(it);
}

void CommandUpgrade::usage() {
  print_usage(
      "usage: upgrade [-q] [-l <log>] [-b <backup_dir>] [-d "
      "<install_dir>] [-o <options>] [--dry-run [--json]] <tic> "
      "[<tic> [...]]\n");
}

bool CommandUpgrade::handle_arg(ArgIterator &it) {
  return take_flag(it, "--dry-run", nullptr, dry_run) || take_flag(it, "--json", nullptr, json) ||
         CommandInstall::handle_arg(it);
}

void CommandStatus::usage() {
  print_usage("usage: status [-d <install_dir>] [--json] [--all | --files | --owner <path>]\n");
}

bool CommandStatus::handle_arg(ArgIterator &it) {
  if (take_switch(it, "--owner", "--owner", owner)) return owner_asked = true;
  return take_flag(it, "--json", nullptr, json) || take_flag(it, "--all", nullptr, all) ||
         take_flag(it, "--files", nullptr, files) || CommandWithDirectory::handle_arg(it);
}

void CommandOnInstalledFiles::usage() { print_usage(usage_line_); }

CommandVerify::CommandVerify()
    : CommandOnInstalledFiles("verify",
                              "usage: verify [-d <install_dir>] [-o <options>] "
                              "[--json] [<tic> [<tic> [...]]]\n") {}

bool CommandVerify::handle_arg(ArgIterator &it) {
  return take_flag(it, "--json", nullptr, json) || CommandOnInstalledFiles::handle_arg(it);
}

CommandRemove::CommandRemove()
    : CommandOnInstalledFiles("remove",
                              "usage: remove [-b <backup_dir>] [-d <install_dir>] [-o "
                              "<options>] [--purge] [<tic> [<tic> [...]]]\n") {}

bool CommandRemove::handle_arg(ArgIterator &it) {
  return take_flag(it, "--purge", nullptr, purge) || take_switch(it, "-b", "--backup", backup_dir) ||
         CommandOnInstalledFiles::handle_arg(it);
}

void CommandRestore::usage() { print_usage("usage: restore -b <backup_dir> [-d <install_dir>]\n"); }

bool CommandRestore::handle_arg(ArgIterator &it) {
  return take_switch(it, "-b", "--backup", backup_dir) || CommandWithDirectory::handle_arg(it);
}

namespace {

template <typename C>
std::unique_ptr<Command> make() {
  return std::make_unique<C>();
}

// The command words, compared without regard to case, each with its class
// and its help: a new command is one line here (and its help text).
const struct {
  const char *word;
  std::unique_ptr<Command> (*make)();
  const a_command_help *help;
} kCommands[] = {
    {"install", make<CommandInstall>, &kInstallHelp},    {"list", make<CommandList>, &kListHelp},
    {"options", make<CommandOptions>, &kOptionsHelp},    {"space", make<CommandSpace>, &kSpaceHelp},
    {"validate", make<CommandValidate>, &kValidateHelp}, {"version", make<CommandVersion>, &kVersionHelp},
    {"verify", make<CommandVerify>, &kVerifyHelp},       {"remove", make<CommandRemove>, &kRemoveHelp},
    {"restore", make<CommandRestore>, &kRestoreHelp},    {"status", make<CommandStatus>, &kStatusHelp},
    {"upgrade", make<CommandUpgrade>, &kUpgradeHelp},
};

}  // namespace

std::unique_ptr<Command> make_command(int argc, char **argv) {
  std::unique_ptr<Command> command;
  for (const auto &c : kCommands) {
    if (argc >= 2 && strcasecmp(argv[1], c.word) == 0) {
      command = c.make();
      command->args.assign(argv + 2, argv + argc);
      command->help = c.help;
      break;
    }
  }
  if (!command) {
    command = std::make_unique<CommandUsage>();
    if (argc > 0) command->args.assign(argv, argv + argc);
  }
  command->parse_args();
  return command;
}

int print_command_words() {
  for (const auto &c : kCommands) printf("%s\n", c.word);
  return fflush(stdout) == 0 ? 0 : -1;
}

void complain(const char *command, const std::string &subject, const std::string &cause) {
  complain_as("kestrel", std::string(command) + ": " + printable(subject) + ": " + printable(cause));
}

unsigned job_count(const char *command) {
  const Result<unsigned> jobs = worker_count_from_environment("KESTREL_JOBS");
  if (jobs) return jobs.value();
  complain_as("kestrel", std::string(command) + ": " + jobs.failure().line());
  return online_worker_count();
}

void complain_unreadable(const char *command, const MultiTic &set) {
  const a_failure &failure = set.read_failure();
  if (failure.failed() && !failure.subject.empty()) complain(command, failure.subject, failure.text());
}
