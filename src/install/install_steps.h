// The steps of the operations on an install directory beyond decoding a
// stream: checking and reaching the directory, backing up, putting files in
// place, comparing, removing and restoring them, locking. The codes of the
// steps extraction shares with the archive module (decoding a stream) are in
// tic/archive/archive_steps.h.
#pragma once

#include "tic/archive/archive_steps.h"

// A command that works from the record found none: the answer "no" of
// status and of a dry run, not a failure to read.
inline constexpr a_step kStepNothingRecorded{0x5fb, "nothing is recorded for this install directory"};
// checking the install directory before writing
inline constexpr a_step kStepSpace{0x5b0, "cannot check the install directory"};
// flushing the installed files to disk
inline constexpr a_step kStepSync{0x5b1, "cannot flush the installed files to disk"};
// the stream's entry is not what the table names
inline constexpr a_step kStepEntryCheck{0x5ca, "stream does not hold the file its entry names"};
// two selected names reach one path
inline constexpr a_step kStepSamePath{0x5cb, "two names reach the same path"};
// a path the command keeps for itself
inline constexpr a_step kStepReserved{0x5cd, "refusing to write where the command keeps its own files"};
// reaching the directory that holds the file
inline constexpr a_step kStepParent{0x5cc, "cannot reach the file's directory"};
// moving a replaced object into the backup
inline constexpr a_step kStepBackupMove{0x5d3, "cannot move the replaced file into the backup"};
// writing a "created as" marker
inline constexpr a_step kStepBackupMarker{0x5d8, "cannot write the backup marker"};
// writing the file (under its temporary name)
inline constexpr a_step kStepWriteEntry{0x5db, "cannot write the file"};
// putting the file in place
inline constexpr a_step kStepCommit{0x5ea, "cannot put the file in place"};
// a check beside the extraction refused every commit
inline constexpr a_step kStepHeldBack{0x5eb, "extraction held back by a failed check"};
// reading an installed file
inline constexpr a_step kStepReadInstalled{0x5f0, "cannot read the installed file"};
// removing an installed file
inline constexpr a_step kStepRemoveInstalled{0x5f1, "cannot remove the installed file"};
// putting back an object of the backup tree
inline constexpr a_step kStepRestore{0x5f2, "cannot restore from the backup"};
// locking the install directory
inline constexpr a_step kStepLock{0x5f3, "cannot lock the install directory"};
// reading or writing the record of the install directory
inline constexpr a_step kStepRecord{0x5f4, "cannot use the record of the install directory"};
// reading a record that is not one (damaged, or not kestrel's)
inline constexpr a_step kStepDamagedRecord{0x5f8, "damaged record"};
// reading a record that no kestrel wrote for the directory: forged names,
// or another directory's
inline constexpr a_step kStepForgedRecord{0x5f9, "record refused"};
// reading a state file that others than root and this user may have written
inline constexpr a_step kStepUnsafeRecord{0x5fa, "state others may have written"};
// checking the archives before anything is written
inline constexpr a_step kStepArchives{0x5f5, "the archives cannot be used"};
// opening, writing or ending the install log
inline constexpr a_step kStepLog{0x5f6, "cannot write the install log"};
// entering the install directory
inline constexpr a_step kStepEnter{0x5f7, "cannot enter the install directory"};
