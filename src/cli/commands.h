// The command objects of kestrel.
//
// kestrel <command> [options] [args ...] builds exactly one of these, feeds
// it the leading switches, runs it and exits with its result (-1 reaches the
// shell as 255).
//
//   Command
//   ├── CommandUsage            (fallback)
//   ├── CommandVersion          version
//   ├── CommandValidate         validate
//   └── CommandWithDirectory    -d/--directory
//       ├── CommandOptions      options
//       ├── CommandRestore      restore   (-b/--backup)
//       ├── CommandStatus       status    (--json, --all, --files, --owner)
//       └── CommandWithOptions  -o/--options
//           ├── CommandSpace    space
//           ├── CommandList     list      (-a/--all)
//           ├── CommandInstall  install   (-l/--log, -b/--backup)
//           │   └── CommandUpgrade  upgrade (--dry-run, --json)
//           └── CommandOnInstalledFiles
//               ├── CommandVerify   verify  (--json)
//               └── CommandRemove   remove  (-b/--backup, --purge)
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/fd.h"

class ArchiveCheck;
class Installation;
class Tic;
struct a_command_help;
struct an_install_request;

// The first line of every usage text.
extern const char kBanner[];

class Command {
 public:
  using ArgIterator = std::vector<std::string>::iterator;

  virtual ~Command() = default;
  // Prints the command's usage text on standard error.
  virtual void usage();
  // Performs the command: 0 on success, -1 on failure.
  virtual int run();
  // Offered the word at |it|; true when the word was consumed. A handler
  // with a value erases its switch and leaves |it| on the value, which the
  // argument loop then erases.
  virtual bool handle_arg(ArgIterator& it);

  // Feeds the leading words of |args| to handle_arg until one is refused;
  // that word and everything after it stay positional. A command with
  // |help| stops at "--help" there and sets |help_asked|; so does "-h" as
  // the one word after the command word, unless a file of that name is in
  // the current directory (then, as before, it names that file).
  void parse_args();

  std::vector<std::string> args;
  // What --help prints (cli/command_help.h); null for no help.
  const a_command_help* help = nullptr;
  bool help_asked = false;

 protected:
  // Prints the banner and |line| (a complete usage line) on standard error.
  static void print_usage(const char* line);
  // The switch pattern: when the word at |it| is |short_form| or |long_form|,
  // erases it and copies the following word (if any) into |value|.
  bool take_switch(ArgIterator& it, const char* short_form, const char* long_form, std::string& value);
  // A switch without a value: when the word at |it| is |short_form| or
  // |long_form| (null for none), sets |value|; the caller erases the word.
  bool take_flag(ArgIterator& it, const char* short_form, const char* long_form, bool& value);
};

class CommandUsage : public Command {
 public:
  void usage() override;
  int run() override;
};

class CommandVersion : public Command {
 public:
  void usage() override;
  int run() override;
};

class CommandValidate : public Command {
 public:
  void usage() override;
  int run() override;
};

class CommandWithDirectory : public Command {
 public:
  bool handle_arg(ArgIterator& it) override;

  std::string directory;
  // --json, in the commands that take it (list, options, status, verify):
  // one JSON document on standard output instead of the lines.
  bool json = false;
};

// Per option: the file that stands for it and whether that file is present.
struct ControlMapEntry {
  std::string control_file;
  bool available = false;
};
using ControlMap = std::map<std::string, ControlMapEntry>;

class CommandOptions : public CommandWithDirectory {
 public:
  void usage() override;
  int run() override;
  bool handle_arg(ArgIterator& it) override;

  // Fills |control| from the set's options and descriptions; always true.
  bool tic_options(Tic& tic, ControlMap& control);
  // True when some file of |option| lacks its data in the set.
  bool missing_files(Tic& tic, const std::string& option);
  // The bits of every option some file of which lacks its data in the set:
  // missing_files for all options at once.
  unsigned long long options_lacking_data(Tic& tic);
};

class CommandWithOptions : public CommandWithDirectory {
 public:
  bool handle_arg(ArgIterator& it) override;

  // The option-selection text exactly as typed; empty selects nothing.
  std::string options;
};

class CommandSpace : public CommandWithOptions {
 public:
  void usage() override;
  int run() override;
};

class CommandList : public CommandWithOptions {
 public:
  void usage() override;
  int run() override;
  bool handle_arg(ArgIterator& it) override;

  bool all = false;
};

class CommandInstall : public CommandWithOptions {
 public:
  void usage() override;
  int run() override;
  bool handle_arg(ArgIterator& it) override;

  std::string backup_dir;
  std::string log_file;
  // -q/--quiet: no progress line.
  bool quiet = false;

 protected:
  // Install and upgrade as the installation carries them out
  // (install/installation.h); |command| names the command.
  int write_set(const char* command);
};

// Installs a new set of archives over a recorded installation
// (cli/upgrade_command.cpp).
class CommandUpgrade : public CommandInstall {
 public:
  void usage() override;
  int run() override;
  bool handle_arg(ArgIterator& it) override;

  bool dry_run = false;

 private:
  // Prints what the upgrade would do and changes nothing.
  int dry_run_set();
};

// Shows what the install directory's record holds; with --all, --files or
// --owner, the inventory of installations (cli/inventory.h).
class CommandStatus : public CommandWithDirectory {
 public:
  void usage() override;
  int run() override;
  bool handle_arg(ArgIterator& it) override;

  bool all = false;    // --all: every installation recorded
  bool files = false;  // --files: the installation's files
  bool owner_asked = false;
  std::string owner;  // --owner <path>: the installations that hold it
};

// What verify and remove share: every archive checked as install checks
// it, each selected file compared with what is installed; or, without
// archives, every file of the install directory's record compared with
// what was recorded (install/installation.h).
class CommandOnInstalledFiles : public CommandWithOptions {
 public:
  void usage() override;
  int run() override;

 protected:
  // |word| is the command word, |usage_line| its usage line.
  CommandOnInstalledFiles(const char* word, const char* usage_line) : word_(word), usage_line_(usage_line) {}
  // Does the command's work in |installation|, entered (and locked when
  // changes_files): 0, 1 when the answer is "no" (verify found
  // differences, remove kept changed files), -1 when it failed.
  virtual int work(Installation& installation, const an_install_request& request, ArchiveCheck& check) = 0;
  // What the command line asks of the installation.
  virtual an_install_request what_is_asked() const;
  // True for a command that changes the install directory: it holds the
  // directory's lock (install/install_lock.h) from before the comparison.
  virtual bool changes_files() const { return false; }

  const char* word_;
  const char* usage_line_;
};

// Compares the installed files with the archives: one line per difference
// on standard output.
class CommandVerify : public CommandOnInstalledFiles {
 public:
  CommandVerify();
  bool handle_arg(ArgIterator& it) override;

 protected:
  int work(Installation& installation, const an_install_request& request, ArchiveCheck& check) override;
};

// Removes the installed files that still match the archives.
class CommandRemove : public CommandOnInstalledFiles {
 public:
  CommandRemove();
  bool handle_arg(ArgIterator& it) override;

  // --purge: files changed since they were installed go too.
  bool purge = false;
  // -b/--backup: what is removed is kept there first, for restore.
  std::string backup_dir;

 protected:
  int work(Installation& installation, const an_install_request& request, ArchiveCheck& check) override;
  an_install_request what_is_asked() const override;
  bool changes_files() const override { return true; }
};

// Undoes an installation from its backup tree.
class CommandRestore : public CommandWithDirectory {
 public:
  void usage() override;
  int run() override;
  bool handle_arg(ArgIterator& it) override;

  std::string backup_dir;
};

// Builds the command named by argv[1] (compared without regard to case),
// with its leading switches handled; CommandUsage when there is none.
std::unique_ptr<Command> make_command(int argc, char** argv);

// `kestrel --commands`: the command words, one per line, on standard
// output (what the bash completion offers); 0.
int print_command_words();

// Says why a command failed, as one line on standard error:
//   kestrel: <command>: <subject>: <cause>
// Archive contents (names, libarchive's words) can hold anything, so control
// characters are escaped (printable, display/message.h) and the line stays one line.
void complain(const char* command, const std::string& subject, const std::string& cause);

// How many files the command decodes at once: KESTREL_JOBS when it holds a
// number from 1 to 1024, else one per processor, after one line on
// standard error when it holds anything else.
unsigned job_count(const char* command);

class MultiTic;

// For the commands that report whatever the set could read (list, space,
// options): one line for the archive that stopped the reading, if any.
void complain_unreadable(const char* command, const MultiTic& set);
