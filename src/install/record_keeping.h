// How the commands that change an installation keep its record
// (install/install_record.h, install/record_store.h).
//
// A command that changes an installation makes a RecordKeeping before it
// changes into the install directory (the state directory may be named
// relative to where kestrel was started), opens it in the install
// directory under the directory's lock, and writes the record when it is
// done. The record is kestrel's own: a state directory that cannot be used
// costs the record, never the installation; a note (a failure that does not
// stop the command) says that no record was kept.
//
// A record is untrusted input (install/record_store.h). One that is forged
// or another directory's is refused by every command, and one that others
// may have written, or a state directory they may write, by every command
// that changes the installation, before anything is changed. A command
// that only reads is warned and reads it all the same.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "install/backup_binding.h"
#include "install/install_record.h"
#include "install/journal.h"
#include "install/record_store.h"
#include "platform/failure.h"

class Tic;

class RecordKeeping {
 public:
  // Told what costs the record but not the command: "no record kept", a
  // damaged record set aside.
  using a_note = std::function<void(const a_failure&)>;

  // |command| names the command in the record; |changes|: the command
  // changes the installation, under the install directory's lock.
  RecordKeeping(const char* command, a_note note, bool changes = true);

  // What a command that reads the record makes of a journal left beside it
  // by a run that did not end (install/journal.h).
  enum class a_journal_use {
    kRecover,  // under the lock: the run taken into the record as it left
               // the install directory (absorb_journal), the record
               // written, the journal removed
    kCheck,    // the same in memory only (verify, a dry run)
    kShow,     // in memory, as the journal tells it (status)
  };

  // In the install directory open as |root| (looked at with |jobs|
  // workers), under its lock: finds its canonical path, reads its record
  // and recovers a journal. A damaged record or journal is set aside
  // ("<record>.damaged", "<record>.journal.damaged") and a new one begun; a
  // state directory that cannot be read turns keeping off. Each of those
  // is noted. Fails when the record or the state directory is refused: no
  // kestrel wrote it for the directory, or others may have written it
  // (install/record_store.h); usable afterwards otherwise.
  Outcome open_for_change(int root, unsigned jobs);

  // In the install directory, for a command that works from the record:
  // fails when there is no record, or it cannot be read or is refused. A
  // command that only reads is warned, in a note, of a record or state
  // directory others may have written, and reads it all the same.
  Outcome open_existing(a_journal_use use, int root, unsigned jobs);
  // The same, silent when there is no usable record (keeping stays off):
  // fails only when the record is refused.
  Outcome open_if_recorded(int root, unsigned jobs);

  bool keeping() const { return keeping_; }
  bool had_record() const { return had_record_; }
  const std::string& directory() const { return directory_; }
  const RecordStore& store() const { return store_; }
  an_install_record& record() { return record_; }
  const an_install_record& before() const { return before_; }

  // The text of the record as it was before the command began, for the
  // backup tree to keep (install/backup_binding.h); null when no record is
  // kept.
  a_text_fill before_text() const;

  // The run of an install or upgrade of |install| begins, before anything
  // is written below the install directory, with the backup directory
  // |backup_dir| (as named; empty for none): the journal is begun. A
  // journal that cannot be begun is noted; the run goes on.
  void begin_run(const std::string& backup_dir, const a_recorded_install& install);
  JournalWriter& journal() { return journal_; }
  // The files that a run taken in from its journal took away: their
  // directories may have been left empty by it.
  const std::set<std::string>& taken_away() const { return taken_away_; }

  // Writes the record, naming the run when one began (its journal then
  // goes); when it holds no file, drops it. false after a note.
  bool save();
  // The same with the files |files| hands out, in strictly increasing
  // byte-wise order of their paths, in place of record()'s: the record is
  // written as they come. A first record has its files before its other
  // members, as a first install always wrote it.
  using a_file_put = std::function<void(const std::string& path, const a_recorded_file& file)>;
  using a_file_source = std::function<Outcome(const a_file_put& put)>;
  bool save_files(const a_file_source& files);
  // A run that changes nothing in the record ends: its journal goes.
  void end_run() { journal_.remove(); }

  // What a command that wrote files tells the record about the archive
  // set it read: the archives, the option text, the options it selected.
  a_recorded_install describe_install(Tic& set, const std::string& options, bool complete) const;

 private:
  void note(const std::string& subject, const std::string& cause) const;
  Outcome check_state() const;
  // Loads the record of directory_: kNone clears it, kDamaged is set aside
  // (with |set_aside|) or fails.
  Outcome load(bool set_aside);
  void take_journal(a_journal_use use, int root, unsigned jobs);

  const char* command_;
  a_note note_;
  bool changes_;
  RecordStore store_;
  bool keeping_ = false;
  bool had_record_ = false;
  std::string directory_;
  an_install_record record_;
  an_install_record before_;
  JournalWriter journal_;
  std::set<std::string> taken_away_;
};

// The canonical path of |path| (relative to the current directory), or
// |path| itself when it cannot be resolved.
std::string canonical_or_given(const std::string& path);

// kestrel's own release as records show it: "kestrel 17.0.11 build 7254".
extern const char kKestrelRelease[];
