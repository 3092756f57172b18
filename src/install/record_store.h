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
// Beside a record, the record as it was before an install or upgrade with
// a backup directory (-b) began: "<record>.before-<hash of the backup
// directory's path>", kept by the first of them (the backup tree keeps the
// oldest state too) and put back by the restore of that backup directory.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <map>
#include <string>

#include "install/install_record.h"
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

// The canonical path of the current directory, or empty with errno set.
std::string canonical_current_directory();

// Why the state directory or a file in it, described by |st|, may have been
// written by others than root and the user running kestrel ("owned by uid
// 1000 with mode 0777; must belong to root or to uid 1001 and not be
// writable by group or others"), or empty when it cannot have been.
std::string state_owner_problem(const struct stat& st);

enum class a_record_read {
  kFound,
  kNone,     // nothing is recorded for the directory
  kDamaged,  // a record is there and cannot be read as one: |why| says why
  kRefused,  // a record is there that no kestrel wrote for the directory:
             // forged names, or another install directory's: |why|
  kUnsafe,   // others may have written the record: |why| (state_owner_problem)
  kFailed,   // the state directory or the record cannot be read: errno
};

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

  // Begins |path| in the state directory |state| (made when missing);
  // false with |why| set.
  bool open(const std::string& state, const std::string& path, std::string& why);
  bool is_open() const { return fd_.valid(); }
  void put(const std::string& text);
  // false with |why| set, the file as it was.
  bool commit(std::string& why);

 private:
  void flush();

  std::string state_;
  std::string path_;
  std::string temporary_;
  UniqueFd fd_;
  std::string block_;
  bool written_ = true;
};

class RecordStore {
 public:
  explicit RecordStore(std::string state_directory) : state_(std::move(state_directory)) {}

  const std::string& directory() const { return state_; }
  // The record file of the install directory |directory|.
  std::string record_path(const std::string& directory) const;

  // Whether the state directory may be used: false with |why|
  // (state_owner_problem) when others may have written it. One that does
  // not exist yet may.
  bool check_state(std::string& why) const;

  // Reads the record of |directory|. A record others may have written is
  // kUnsafe; with |warning| not null it is read all the same and |warning|
  // says why it is not to be trusted (empty when it is).
  a_record_read load(const std::string& directory, an_install_record& record, std::string& why,
                     std::string* warning = nullptr) const;

  // The file names of the records in the state directory ("<name>.json",
  // not what lies beside them), in byte-wise order; none when it does not
  // exist. false with |why| when it cannot be read.
  bool record_names(std::vector<std::string>& names, std::string& why) const;
  // Reads the record named |name| there, as load reads one: kRefused when
  // it is not the record of the directory it names (a record is only ever
  // written under its directory's name).
  a_record_read load_named(const std::string& name, an_install_record& record, std::string& why,
                           std::string* warning = nullptr) const;

  // Removes the temporaries that commands which ended before they renamed
  // them left of |directory|'s record: never one of a process that runs.
  // Called under the install directory's lock.
  void sweep_temporaries(const std::string& directory) const;
  // Puts |record| on disk, creating the state directory when missing.
  // false with |why| set.
  bool save(const an_install_record& record, std::string& why) const;
  // Begins the record of |directory| in |writer|, for a record written as
  // its files come (RecordFileWriter).
  bool open_writer(const std::string& directory, RecordFileWriter& writer, std::string& why) const;
  // Removes the record of |directory| (nothing there is no failure).
  bool drop(const std::string& directory, std::string& why) const;
  // Moves a damaged record aside to "<record>.damaged", so that a new one
  // can be started without losing it.
  bool set_aside(const std::string& directory, std::string& why) const;

  // Keeps |before| (null: nothing was recorded) as the record to return to
  // when the backup directory |backup| (its canonical path) is restored,
  // unless one is kept for it already.
  bool keep_before(const std::string& directory, const std::string& backup, const an_install_record* before,
                   std::string& why) const;
  // After |backup| was restored: puts back what keep_before kept for it
  // (the record, or no record). kNone when nothing was kept.
  a_record_read return_to_before(const std::string& directory, const std::string& backup, std::string& why) const;
  // Whether return_to_before would find what keep_before kept for |backup|
  // readable and trustworthy, as load judges a record; changes nothing.
  a_record_read check_before(const std::string& directory, const std::string& backup, std::string& why) const;
  // The file keep_before keeps for |backup|.
  std::string before_path(const std::string& directory, const std::string& backup) const;

 private:
  // Reads the record file at |path| as load does, whoever's it is.
  a_record_read load_file(const std::string& path, an_install_record& record, std::string& why,
                          std::string* warning) const;
  a_record_read read_before(const std::string& directory, const std::string& backup, Json& document,
                            std::map<std::string, a_recorded_file>& files, std::string& why) const;
  // Writes the file |path| whole or not at all (a temporary, synced, then
  // renamed), its text handed in pieces by |fill| to the function it gets.
  using a_text_put = std::function<void(const std::string&)>;
  using a_text_writer = std::function<void(const a_text_put&)>;
  bool write_whole(const std::string& path, const a_text_writer& fill, std::string& why) const;
  bool write_whole(const std::string& path, const std::string& text, std::string& why) const;

  std::string state_;
};
