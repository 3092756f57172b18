// Where the records of installations live (install/install_record.h), and
// how they are read and put on disk.
//
// The state directory holds one record per install directory, named from
// the directory's canonical path: "/opt/tarnvale" is "opt-tarnvale.json"
// ("-" and every byte but letters, digits, "_" and "." written "%HH"; a
// name that would be too long is cut and ends in a hash of the path). The
// record names the directory inside, and one that names another is
// refused.
//
// A record is replaced as a whole: written to a temporary beside it
// ("<record>.tmp-<pid>"), put on disk, renamed over it. Commands that
// change an installation write it under the install directory's lock, so
// one directory's record has one writer; readers always see a whole
// record.
//
// Records are untrusted input: kestrel runs as root, and whoever can write
// a record can make it name any file. The state directory and every file
// read from it must belong to root or to the user running kestrel and not
// be writable by group or others (state_owner_problem), and a record's
// names are read as an archive's are (install/install_record.h).
//
// The record as it was before the first install or upgrade into a backup
// directory (-b) is kept in that backup tree (install/backup_binding.h),
// and put back from there by its restore.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <map>
#include <string>

#include "install/install_record.h"
#include "platform/failure.h"
#include "platform/fd.h"

// The state directory: KESTREL_STATE_DIR when set and not empty; else
// /var/lib/kestrel for root, $XDG_STATE_HOME/kestrel (an absolute one) or
// ~/.local/state/kestrel for anyone else. A relative path is taken from the
// current directory, so this is asked before a command changes into the
// install directory.
std::string configured_state_directory();

// Where the system's (root's) records are, for a user other than root with
// no KESTREL_STATE_DIR: /var/lib/kestrel. Empty otherwise: then the
// configured state directory is the only one.
std::string system_state_directory();

// The name of the record of the install directory |directory| (a canonical
// path) in the state directory.
std::string record_file_name(const std::string& directory);

// The text of the record |before| of |directory|, kept before a run to be
// put back by put_back: the record, or (null) a document saying there was
// none. Handed to |put| in pieces.
Outcome record_before_text(const std::string& directory, const an_install_record* before,
                           const std::function<void(const std::string&)>& put);

// The canonical path of the current directory, or empty with errno set.
std::string canonical_current_directory();

// Why the state directory or a file in it, described by |st|, may have been
// written by others than root and the user running kestrel ("owned by uid
// 1000 with mode 0777; must belong to root or to uid 1001 and not be
// writable by group or others"), or empty when it cannot have been.
std::string state_owner_problem(const struct stat& st);

// A file of the state directory written whole or not at all: a temporary
// beside it takes the text, gathered into blocks, and commit() puts it on
// disk and renames it over the file. Without a commit the temporary goes
// when the writer does.
class RecordFileWriter {
 public:
  RecordFileWriter() = default;
  ~RecordFileWriter();
  RecordFileWriter(const RecordFileWriter&) = delete;
  RecordFileWriter& operator=(const RecordFileWriter&) = delete;

  // Begins |path| in the state directory |state| (made when missing).
  // |record|: the file is an installation's record, whose commit has the
  // fail points record-written and record-renamed (platform/fail_point.h).
  Outcome open(const std::string& state, const std::string& path, bool record = false);
  bool is_open() const { return fd_.valid(); }
  void put(const std::string& text);
  // On failure the file is as it was.
  Outcome commit();

 private:
  void flush();

  std::string state_;
  std::string path_;
  std::string temporary_;
  UniqueFd fd_;
  std::string block_;
  bool written_ = true;
  bool record_ = false;
};

class RecordStore {
 public:
  explicit RecordStore(std::string state_directory) : state_(std::move(state_directory)) {}

  const std::string& directory() const { return state_; }
  // The record file of the install directory |directory|.
  std::string record_path(const std::string& directory) const;

  // Whether the state directory may be used: fails (kStepUnsafeRecord,
  // saying why: state_owner_problem) when others may have written it. One
  // that does not exist yet may.
  Outcome check_state() const;

  // Reads the record of |directory|: true, or false when nothing is
  // recorded for it. A record that cannot be read as one fails with
  // kStepDamagedRecord, one no kestrel wrote for the directory (forged
  // names, another directory's) with kStepForgedRecord, one others may
  // have written with kStepUnsafeRecord, all about the record; a state
  // directory or record that cannot be read with kStepRecord, about the
  // state directory. With |warning| not null a record others may have
  // written is read all the same, and |warning| says why it is not to be
  // trusted (not failed when it is).
  Result<bool> load(const std::string& directory, an_install_record& record, a_failure* warning = nullptr) const;

  // The file names of the records in the state directory ("<name>.json",
  // not what lies beside them), in byte-wise order; none when it does not
  // exist. Fails, about the state directory, when it cannot be read.
  Outcome record_names(std::vector<std::string>& names) const;
  // Reads the record named |name| there, as load reads one: refused
  // (kStepForgedRecord) when it is not the record of the directory it
  // names (a record is only ever written under its directory's name).
  Result<bool> load_named(const std::string& name, an_install_record& record, a_failure* warning = nullptr) const;

  // Removes the temporaries that commands which ended before they renamed
  // them left of |directory|'s record: never one of a process that runs.
  // Called under the install directory's lock.
  void sweep_temporaries(const std::string& directory) const;
  // Puts |record| on disk, creating the state directory when missing.
  // Failures of the state directory are about it.
  Outcome save(const an_install_record& record) const;
  // Begins the record of |directory| in |writer|, for a record written as
  // its files come (RecordFileWriter).
  Outcome open_writer(const std::string& directory, RecordFileWriter& writer) const;
  // Removes the record of |directory| (nothing there is no failure).
  Outcome drop(const std::string& directory) const;
  // Makes the state directory when it is missing.
  Outcome make_directory() const;
  // Moves a damaged record aside to "<record>.damaged", so that a new one
  // can be started without losing it.
  Outcome set_aside(const std::string& directory) const;

  // Puts back the record of |directory| kept before a run
  // (record_before_text), open as |text|: the record it holds, or no
  // record. Fails with kStepDamagedRecord when it is not such a text of
  // this directory. Without |apply| it is only checked. The files are
  // read as a stream, as a record's are.
  Outcome put_back(const std::string& directory, UniqueFd text, bool apply = true) const;

 private:
  // Reads the record file at |path| as load does, whoever's it is.
  Result<bool> load_file(const std::string& path, an_install_record& record, a_failure* warning) const;
  // Writes the file |path| whole or not at all (a temporary, synced, then
  // renamed), its text handed in pieces by |fill| to the function it gets.
  using a_text_put = std::function<void(const std::string&)>;
  using a_text_writer = std::function<Outcome(const a_text_put&)>;
  Outcome write_whole(const std::string& path, const a_text_writer& fill, bool record = false) const;

  std::string state_;
};
