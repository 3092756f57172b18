// Extraction: the files an option text selects from an archive (or a set),
// written below the install directory, reached from a descriptor of it.
//
// Every file goes through two stages:
//   prepare  (on a worker thread) decode the file's stream into a temporary
//            in its final directory and check the stream against its MAC;
//   commit   (on the calling thread, strictly in extraction order) call the
//            progress hook, back up what the file replaces, rename the
//            temporary into place.
// Workers decode ahead of the committer, so several cores share the work,
// while everything anyone sees (the progress line, the log, the backup tree,
// which files are in place when one fails) comes from the commits in order
// and is the same for any number of workers. A file that fails leaves its
// old version in place; the files after it are never committed.
//
// Tic::extract is this with one worker, into the current directory
// (CurrentDirectoryExtractor).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "install/install_record.h"
#include "platform/failure.h"
#include "tic/archive/tic.h"

class BackupTree;
class InstallDirectory;
class OrderedJobPool;
struct TicTocEntry;
struct a_stream_ref;

// What extraction does with one selected file (TicExtraction::set_decision).
enum class a_file_decision {
  kWrite,        // put it in place at its path
  kSkip,         // leave it out: what stands at its path stays
  kWriteBeside,  // put it in place at its path + kBesideSuffix
};

// Where a new version goes that may not replace what stands at its path.
constexpr const char kBesideSuffix[] = ".kestrel-new";

// A path below the install directory that extraction keeps out of an
// archive's reach: where a command keeps something of its own.
struct a_reserved_path {
  std::string path;  // normalised, relative to the install directory
  std::string what;  // what lies there, for messages: "the install log"
};

// What extraction tells before it changes the install directory, so that
// whatever stops it leaves a trace (install/journal.h). Called on the
// thread that called extract().
class ExtractionJournal {
 public:
  virtual ~ExtractionJournal() = default;
  // Once, before anything is written below the install directory, with the
  // backup tree (null when there is none) made already; a failure stops the
  // extraction with nothing written.
  virtual Outcome begin(BackupTree* backup) = 0;
  // The file |path| (normalised) is about to be put in place as |file|;
  // |beside|: at |path| + kBesideSuffix. A directory is told once made.
  virtual void placing(const std::string& path, const a_recorded_file& file, bool beside) = 0;
  // The file |path| is about to be taken away (set_removals).
  virtual void removing(const std::string& path) = 0;
};

class TicExtraction {
 public:
  // Extracts from |archive| into the directory open on |root| (a descriptor
  // opened with O_PATH will do), decoding up to |jobs| files at once.
  TicExtraction(Tic& archive, int root, unsigned jobs = 1);
  // The same on the workers of |pool|, which outlives the object: several
  // extractions one after another start no thread of their own.
  TicExtraction(Tic& archive, int root, OrderedJobPool& pool);

  // Before anything is written: the install directory must be writable and
  // its file system must have room for the selected files (less what they
  // replace, when nothing is backed up). 0, or -1 with the failure recorded
  // about |directory_name|.
  int check_room(const std::string& options, bool backup, const std::string& directory_name);

  // Keeps |path| out of every archive's reach: an entry at it or below it
  // fails, and so does one that is not a directory where a directory on the
  // way to it lies. extract() reserves the backup directory itself when it
  // lies inside the install directory.
  void reserve_path(const a_reserved_path& path) { reserved_paths_.push_back(path); }

  // Names are normalised first ("./a", "a//b" and "a/./b" are "a" and
  // "a/b"); when two selected names reach one path nothing is written.
  // Extracts the files |options| selects, in the order their streams lie;
  // with a backup directory (named relative to the install directory) what
  // they replace is kept there first. 0, or -1 with the failure recorded
  // (ERROR, platform/error_word.h).
  int extract(const std::string& options, const std::string& backup_dir);

  // Asked of each selected file, by its reference (entry and rank),
  // before anything is decoded and each time the files are walked (it must
  // answer alike each time): which files are written, and where. Without
  // a decision every selected file is written at its path. check_room and
  // bytes_to_write count only what is written.
  using a_decision = std::function<a_file_decision(const a_stream_ref& ref)>;
  void set_decision(a_decision decision) { decision_ = std::move(decision); }

  // Called on the calling thread for every file just put in place, in
  // extraction order, with the normalised path it was written at and what
  // was put there: its type, permission bits as installed, size, SHA-256 of
  // its content (of the target for a link) and the entry's MAC, and the
  // file's rank among the selected files in name order.
  using a_planned_visit = std::function<void(const a_stream_ref& ref, bool beside)>;
  using an_observer = std::function<void(const std::string& path, const a_recorded_file& file, uint32_t rank)>;
  void set_commit_observer(an_observer observer) { observer_ = std::move(observer); }

  // After the last file is put in place, extract() removes each of |paths|
  // (normalised paths below the install directory) that is a file or a
  // symbolic link, keeping it in the backup tree first when there is one,
  // and then those of |paths| that are directories and the directories the
  // removals leave empty, when they are empty. What is gone already, or
  // lies behind a symbolic link, is passed over.
  void set_removals(std::vector<std::string> paths) { removals_ = std::move(paths); }

  // The sum of the sizes of the files that extract(|options|) would write;
  // 0 when the table of contents cannot be read.
  unsigned long long bytes_to_write(const std::string& options);

  void set_journal(ExtractionJournal* journal) { journal_ = journal; }

  // Called once before extraction puts its first file in place; false
  // stops the extraction with nothing committed (kStepHeldBack). Lets a
  // check that runs beside the decoding (the archives' signatures) hold
  // back every commit until it has passed.
  void set_commit_gate(std::function<bool()> gate) { commit_gate_ = std::move(gate); }

 private:
  Tic& archive_;
  int root_;
  unsigned jobs_;
  OrderedJobPool* pool_ = nullptr;
  // What the decision says about |ref|.
  a_file_decision decide(const a_stream_ref& ref) const;
  // Calls |visit(ref, beside)| for each selected file that is written, in
  // name order, with whether it goes beside its path. -1 with the failure
  // recorded when the table cannot be read.
  int for_each_planned(const std::string& options, const a_planned_visit& visit);
  // Fails, naming both (the later in name order first), when two of the
  // files written reach one path. false with the failure recorded.
  bool check_paths(const std::string& options);
  // Before anything is written: the backup directory made, the journal
  // begun. false with the failure recorded.
  bool begin(BackupTree* backup);
  // Asks the commit gate; true, with kStepHeldBack recorded, when it holds
  // the extraction back.
  bool held_back();

  std::function<bool()> commit_gate_;
  ExtractionJournal* journal_ = nullptr;
  a_decision decision_;
  an_observer observer_;
  std::vector<std::string> removals_;
  std::vector<a_reserved_path> reserved_paths_;
};

// Opens the backup tree named |backup_dir| (relative to |install|) for a
// command that keeps what it replaces or takes away: refused when it is
// reached through a symbolic link inside the install directory, or is the
// install directory or lies above it. When it lies inside the install
// directory its path joins |reserved|, so that no archive writes into it.
// false with the failure recorded (ERROR, tic/error.h).
bool open_backup_tree(InstallDirectory& install, const std::string& backup_dir,
                      std::vector<a_reserved_path>& reserved, std::unique_ptr<BackupTree>& backup);

// Extraction as Tic::extract reaches it (Tic::set_extractor): one worker,
// into the current directory.
class CurrentDirectoryExtractor : public TicExtractor {
 public:
  int extract(Tic& archive, const std::string& options, const std::string& backup_dir) override;
};
