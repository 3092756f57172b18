// One install or upgrade of a set of archives into the install directory
// (install/installation.h): the record read, every archive checked, an
// upgrade planned (install/upgrade_plan.h), room checked, the files put in
// place and the log ended; then the record updated. Upgrade is install with
// a plan: the plan decides which files are written, and where, which
// recorded files go, and what the record says afterwards.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "install/extraction.h"
#include "install/install_log.h"
#include "install/placed_files.h"
#include "install/installation.h"
#include "install/record_keeping.h"
#include "platform/json.h"

class MultiTic;
class TicExtraction;
class InstallingSet;

// Checks every archive of |set|: ok, or the archive that failed (|where|
// when none is named) and why.
Outcome validate_archives(const MultiTic& set, const std::string& where);

class InstallRun : private ExtractionJournal {
 public:
  // |root| is the install directory, named |where| in failures; |upgrade|
  // for an upgrade, which needs a record.
  InstallRun(InstallationEvents& events, RecordKeeping& records, int root, const std::string& where,
             unsigned jobs, const an_install_request& request, bool upgrade);
  ~InstallRun();

  // The whole run: every failure that ends it told to the events as it
  // ends it, and returned.
  Outcome run(ArchiveCheck& check);

  // Reads the record (an upgrade compares what it recorded with what is
  // there) and settles the option text. A dry run (|change| false) takes
  // an unfinished run's journal in without writing the record.
  Outcome open_record(bool change = true);
  // Once every archive is checked, before anything is written: an
  // upgrade's selection is checked and its plan made, and extraction told
  // what to write and what to take away.
  Outcome plan(Tic& set, TicExtraction& extraction);
  // The plan, in byte-wise order of the paths (an upgrade, once planned).
  const UpgradePlan& upgrade_plan() const;
  // The plan of |set| as one document (install/plan_document.h), handed
  // to |put| in pieces.
  Outcome plan_document(Tic& set, const std::function<void(const std::string&)>& put) const;

 private:
  struct an_upgrade;

  Outcome fail(const a_failure& failure);
  // ExtractionJournal: the run begins, its changes are told to the journal.
  Outcome begin(BackupTree* backup) override;
  void placing(const std::string& path, const a_recorded_file& file, bool beside) override;
  void removing(const std::string& path) override;
  Outcome ready_to_write(InstallingSet& set, TicExtraction& extraction, ArchiveCheck& check);
  Outcome extract_and_log(TicExtraction& extraction, ArchiveCheck& check, InstallLog& log);
  void observe(TicExtraction& extraction);
  void report_kept() const;
  void keep_record(const a_recorded_install& installed, bool finished);

  InstallationEvents& events_;
  RecordKeeping& records_;
  int root_;
  const std::string& where_;
  unsigned jobs_;
  const an_install_request& request_;
  std::unique_ptr<an_upgrade> upgrade_;
  bool is_upgrade_;
  // The set being installed, while it is.
  Tic* set_ = nullptr;
  // The option text installed.
  std::string selection_;
  // What was put in place and is not yet in the record.
  PlacedFiles placed_;
};
