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

class BackedUpRemoval;
class Tic;
struct a_command_help;
class KestrelTic;
class RecordKeeping;
class SignatureCheck;
class TicExtraction;
struct an_installed_file;
struct an_install_record;
struct a_recorded_file;
struct a_recorded_install;

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
  // The installation that install and upgrade share (|command| names it in
  // messages): the directory locked, its record read (open_record), every
  // archive checked, the extraction planned (plan), room checked, the
  // files put in place and the log ended; then report, and the record
  // updated (update_record) and written.
  int install_set(const char* command);
  // The checks before anything is written (see install_command.cpp); false
  // with |subject| and |cause| saying why.
  // Adds what the install put in place, and the install itself, to the
  // record, when there is something to add.
  void keep_record(RecordKeeping& records, const std::map<std::string, a_recorded_file>& committed,
                   const a_recorded_install& installed, bool finished);
  bool ready_to_write(KestrelTic& set, TicExtraction& extraction, SignatureCheck& signatures,
                      const std::string& where, std::string& subject, std::string& cause);

  // Reads the install directory's record and sets selection_; false stops
  // the command (a line was printed). |root| is the install directory.
  virtual bool open_record(RecordKeeping& records, int root, unsigned jobs);
  // Once every archive is checked, before anything is written; false stops
  // the command, with |subject| and |cause| unless a line was printed.
  virtual bool plan(KestrelTic& set, TicExtraction& extraction, std::string& subject, std::string& cause);
  // |committed| holds what was put in place, by path.
  virtual void update_record(an_install_record& record, const std::map<std::string, a_recorded_file>& committed,
                             bool complete);
  // After a successful installation, once the progress line is closed.
  virtual void report();
  virtual bool is_upgrade() const { return false; }

  // The option text installed.
  std::string selection_;
};

// Installs a new set of archives over a recorded installation
// (cli/upgrade_command.cpp).
class CommandUpgrade : public CommandInstall {
 public:
  CommandUpgrade();
  ~CommandUpgrade() override;
  void usage() override;
  int run() override;
  bool handle_arg(ArgIterator& it) override;

  bool dry_run = false;

 protected:
  bool open_record(RecordKeeping& records, int root, unsigned jobs) override;
  bool plan(KestrelTic& set, TicExtraction& extraction, std::string& subject, std::string& cause) override;
  void update_record(an_install_record& record, const std::map<std::string, a_recorded_file>& committed,
                     bool complete) override;
  void report() override;
  bool is_upgrade() const override { return true; }

 private:
  // Prints what the upgrade would do and changes nothing.
  int dry_run_set();
  // With --json: the plan as one document.
  void print_plan_document(const RecordKeeping& records, Tic& set);

  struct a_state;
  std::unique_ptr<a_state> state_;
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
// it, each selected file compared with what is installed
// (cli/installed_comparison.h), and a file that cannot be read named on
// standard error; or, without archives, every file of the install
// directory's record compared with what was recorded
// (install/recorded_files.h). run() hands every other file to
// handle_file, in name order, then calls finish.
class CommandOnInstalledFiles : public CommandWithOptions {
 public:
  void usage() override;
  int run() override;

 protected:
  // |word| is the command word, |usage_line| its usage line.
  CommandOnInstalledFiles(const char* word, const char* usage_line) : word_(word), usage_line_(usage_line) {}
  // Deals with one file that could be compared, below the install
  // directory open on |root|; false when the command fails for it. A file
  // that makes the answer "no" without failing the command (a difference,
  // a changed file kept) sets answered_no_ instead.
  virtual bool handle_file(int root, const an_installed_file& file) = 0;
  // After the last file; false when the command fails.
  virtual bool finish(int root);
  // True for a command that changes the install directory: it holds the
  // directory's lock (install/install_lock.h) from before the comparison.
  virtual bool changes_files() const { return false; }

  const char* word_;
  const char* usage_line_;
  // The install directory's record while run() runs: the one worked from,
  // or (with archives) the one a change is reported to; null when none.
  RecordKeeping* records_ = nullptr;
  bool from_record_ = false;
  // The command could look at every file and the answer is "no": verify
  // found differences, remove kept changed files. The status is then 1
  // (255 stays "failed").
  bool answered_no_ = false;
};

// Compares the installed files with the archives: one line per difference
// on standard output.
class CommandVerify : public CommandOnInstalledFiles {
 public:
  CommandVerify();
  bool handle_arg(ArgIterator& it) override;

 protected:
  bool handle_file(int root, const an_installed_file& file) override;
  bool finish(int root) override;

  size_t compared_ = 0;
  // With --json, each differing file's name and differences, kept until the
  // document is written (the files themselves are handed out one by one).
  std::vector<std::pair<std::string, unsigned>> different_;
};

// Removes the installed files that still match the archives.
class CommandRemove : public CommandOnInstalledFiles {
 public:
  CommandRemove();
  ~CommandRemove() override;
  bool handle_arg(ArgIterator& it) override;

  // --purge: files changed since they were installed go too.
  bool purge = false;
  // -b/--backup: what is removed is kept there first, for restore.
  std::string backup_dir;

 protected:
  bool handle_file(int root, const an_installed_file& file) override;
  bool finish(int root) override;
  bool changes_files() const override { return true; }

 private:
  // Takes |file| away (into the backup tree, with -b); false when the
  // command fails for it.
  bool take_away(int root, const an_installed_file& file);

  // The directories that may be left empty by what was removed.
  std::set<std::string> may_be_empty_;
  // The files looked at: those no longer there leave the record.
  std::vector<std::string> handled_;
  // With -b, opened before the first file; null when it could not be.
  std::unique_ptr<BackedUpRemoval> backup_;
  bool backup_tried_ = false;
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

// Takes the lock of the install directory open as |directory| (named |where|
// in messages) for a command that changes it (install/install_lock.h). While
// another process holds it, says once on standard error whom it waits for:
//   kestrel: <command>: <where>: waiting for <holder> to finish with the install directory
// false after one line on standard error when it cannot be locked.
class InstallLock;
bool lock_install_directory(const char* command, const std::string& where, int directory, InstallLock& lock);

// Changes into the install directory |directory| (when not empty), so that
// relative archive, log and backup names are resolved inside it, opens it
// into |root| and, with |lock|, takes its lock. false after one line on
// standard error.
bool enter_install_directory(const char* command, const std::string& directory, UniqueFd& root, InstallLock* lock);

// How many files the command decodes at once: KESTREL_JOBS when it holds a
// number from 1 to 1024, else one per processor, after one line on
// standard error when it holds anything else.
unsigned job_count(const char* command);

// complain() about the failure the archive module recorded last, naming
// |fallback| when the failure names nothing.
void complain_recorded(const char* command, const std::string& fallback);

class MultiTic;

// Checks every archive of |set| (MultiTic::integrity): true, or false with
// the archive that failed in |subject| (empty when none is named) and why
// in |cause|.
bool validate_set(const MultiTic& set, std::string& subject, std::string& cause);

// The signature check of the commands that change or judge an
// installation from archives (install, verify, remove, validate, upgrade):
// when trusted keys are configured (sign/trusted_keys.h), every archive of
// |archives| (one archive or a set) must carry a signature by one of them
// that matches the bytes the command works from. Called before anything is
// written. 0, or -1 after one line "kestrel: <command>: <archive>: <cause>".
// install runs the same check beside its decoding (sign/signature_check.h).
int check_signatures(const char* command, Tic& archives);

// For the commands that report whatever the set could read (list, space,
// options): one line for the archive that stopped the reading, if any.
void complain_unreadable(const char* command, const MultiTic& set);
