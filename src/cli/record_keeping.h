// How kestrel's commands keep and read the record of an installation
// (install/install_record.h, install/record_store.h).
//
// A command that changes an installation makes a RecordKeeping before it
// changes into the install directory (the state directory may be named
// relative to where kestrel was started), opens it in the install
// directory under the directory's lock, and writes the record when it is
// done. The record is kestrel's own: a state directory that cannot be used
// costs the record, never the installation; one line on standard error
// says that no record was kept.
//
// A record is untrusted input (install/record_store.h). One that is forged
// or another directory's is refused by every command, and one that others
// may have written, or a state directory they may write, by every command
// that changes the installation, with one line naming the file, before
// anything is changed. A command that only reads warns in one line and
// reads it all the same.
#pragma once

#include <string>
#include <vector>

#include "install/install_record.h"
#include "install/record_store.h"

class Tic;

class RecordKeeping {
 public:
  // |command| names the command in messages; |changes|: the command
  // changes the installation, under the install directory's lock. A
  // command that only reads may read the system's record of a directory
  // for which its user has none (open_existing).
  explicit RecordKeeping(const char* command, bool changes = true);

  // In the install directory: finds its canonical path, sweeps the stale
  // temporaries of its record and reads the record. A damaged record is
  // set aside ("<record>.damaged") and a new one begun; a state directory
  // that cannot be read turns keeping off. Each of those says so in one
  // line. false after one line when the record or the state directory is
  // refused; usable afterwards otherwise.
  bool open_for_change();

  // In the install directory, for a command that works from the record:
  // false after one line on standard error when there is no record, or it
  // cannot be read or is refused. A command that only reads, run by a user
  // other than root whose own state directory has no record of the
  // directory, reads the system's record of it (system_state_directory()).
  bool open_existing();
  // After open_existing failed: true when that was because nothing is
  // recorded for the directory (not a record that could not be read).
  bool nothing_recorded() const { return nothing_recorded_; }
  // The same, silent when there is no usable record (keeping stays off):
  // false after one line only when the record is refused.
  bool open_if_recorded();

  bool keeping() const { return keeping_; }
  bool had_record() const { return had_record_; }
  const std::string& directory() const { return directory_; }
  an_install_record& record() { return record_; }
  const an_install_record& before() const { return before_; }

  // Before a command with a backup directory |backup_dir| (named as given,
  // relative to the install directory) writes the record: keeps the record
  // as it was before the command began, for the restore of that backup
  // directory, when the directory exists.
  void keep_before(const std::string& backup_dir);

  // Writes the record; when it holds no file, drops it. false after one
  // line on standard error.
  bool save();

  // A first install's record is written as files are put in place, so
  // that nothing is kept in memory per file: true when there is no record
  // yet. add_file then puts each file in the record on disk, beginning it
  // at the first; false when it cannot be begun (the caller keeps the file
  // for record() instead, and save says why).
  bool may_add_files() const { return keeping_ && !had_record_ && record_.files.empty(); }
  bool add_file(const std::string& path, const a_recorded_file& file);
  size_t files_added() const { return files_added_; }

  // What a command that wrote files tells the record about the archive
  // set it read: the archives, the option text, the options it selected.
  a_recorded_install describe_install(Tic& set, const std::string& options, bool complete) const;

  // "kestrel: <command>: <path of the record>: ...".
  void complain_about_record(const std::string& cause) const;

 private:
  // Finds the install directory's canonical path and checks the state
  // directory: false after one line when it is refused.
  bool find_directory_and_state();
  // Reads the record; a refused one, or one to warn of, gets its line.
  a_record_read load_record(std::string& why);

  const char* command_;
  bool changes_;
  RecordStore store_;
  bool keeping_ = false;
  bool nothing_recorded_ = false;
  bool had_record_ = false;
  std::string directory_;
  an_install_record record_;
  an_install_record before_;
  RecordFileWriter writer_;  // open while files go straight to disk
  bool writer_failed_ = false;
  size_t files_added_ = 0;
};

// The canonical path of |path| (relative to the current directory), or
// |path| itself when it cannot be resolved.
std::string canonical_or_given(const std::string& path);

// kestrel's own release as records show it: "kestrel 17.0.11 build 7254".
extern const char kKestrelRelease[];
