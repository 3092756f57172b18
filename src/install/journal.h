// The journal of an install or upgrade under way: what it is doing to the
// install directory, written beside the record before it does it, so that
// whatever stops it (a kill, a power loss, a failure) the next command
// knows what it may have left.
//
// The journal of the install directory whose record is <record> is
// <record>.journal in the state directory, appended line by line, one JSON
// document a line:
//   {"journal": "kestrel-journal 1", "run": RUN, "directory": DIR,
//    "backup": BACKUP, "install": {...}}
//       first, on disk before anything below the install directory is
//       written: the run (a name no other run has), the install directory,
//       the backup directory (its canonical path, "" for none) and the
//       install or upgrade as the record keeps one (the command, its
//       archives and options), not complete;
//   {"name": NAME, "type": ..., "mode": ..., "size": ..., "sha256": ...,
//    "mac": ..., "beside": true?}
//       a file about to be put in place, as the record keeps a file; the
//       line reaches the system before the rename that puts it in place,
//       so that a kill never loses it ("beside": written as
//       NAME.kestrel-new);
//   {"gone": NAME}
//       a recorded file about to be taken away.
// Lines are put on disk in batches; a power loss may lose the last ones,
// and cut the last line short, which is then left out.
//
// When the run ends, the record it writes names the run ("run"), and the
// journal is removed; a journal whose run the record names is over.
#pragma once

#include <map>
#include <set>
#include <string>

#include "install/install_record.h"
#include "platform/failure.h"
#include "platform/fd.h"

struct a_journal {
  std::string run;
  std::string directory;
  std::string backup;  // canonical path of the backup directory, "" for none
  a_recorded_install install;
  // The files about to be put in place, by path; those written beside
  // their path are not, as the record keeps only a release's own paths.
  std::map<std::string, a_recorded_file> placed;
  std::set<std::string> gone;
};

// The journal of the record at |record_path|.
std::string journal_path(const std::string& record_path);

// Reads the journal at |path|: its value, or no value and no failure
// (failure() not failed) when there is none. A journal that is not one, or
// names files that no archive may name, fails.
Result<a_journal> read_journal(const std::string& path);

// A name for a run that no other run has: the process, the time, random
// bytes.
std::string new_run_name();

// Writes a journal. Lines written with placing() and removing() reach the
// system at once and the disk in batches.
class JournalWriter {
 public:
  JournalWriter() = default;
  JournalWriter(const JournalWriter&) = delete;
  JournalWriter& operator=(const JournalWriter&) = delete;

  // Creates the journal |path| with its first line, and puts it on disk.
  Outcome begin(const std::string& path, const a_journal& head);
  bool is_open() const { return fd_.valid(); }

  // The file |path| is about to be put in place as |file| (|beside|:
  // at |path| + ".kestrel-new").
  void placing(const std::string& path, const a_recorded_file& file, bool beside);
  // The recorded file |path| is about to be taken away.
  void removing(const std::string& path);

  // After the record that takes the run over is in place: removes the
  // journal.
  void remove();

  // The first line that could not be written, if any: lines after it are
  // not written either, and the run goes on as without a journal.
  const a_failure& failure() const { return failure_; }

 private:
  void put(const std::string& line);

  std::string path_;
  UniqueFd fd_;
  size_t unsynced_ = 0;
  a_failure failure_;
};
