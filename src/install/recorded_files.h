// The installed files compared with their record (install/install_record.h).
//
// Without the archives, the record is the manifest: each recorded path is
// looked up below the install directory and compared with what was put
// there: the type; a regular file's bytes (by their SHA-256) and
// permission bits as recorded, so the caller's umask plays no part; a
// symbolic link's target. A directory's permission bits are not compared,
// as with the archives. The results are those of the comparison with the
// archives (install/installed_files.h), so verify and remove report them
// alike. Nothing below the install directory is changed, paths are
// followed without symbolic links, and files are read without changing
// their access time where the system allows it.
#pragma once

#include <functional>
#include <string>

#include "install/install_record.h"
#include "install/installed_files.h"

// Compares every file of |files| with what lies below the directory
// |root|, hashing up to |jobs| files at once, and hands |each| the result
// and the recorded file, in name order, a batch at a time as the record is
// read; the result's mode is the recorded type and permission bits. Fails
// when the record no longer reads as it did (the files handed out until
// then were compared).
using a_recorded_line = std::function<void(const an_installed_file& found, const a_recorded_file& recorded)>;
Outcome compare_recorded_files(const a_record_files& files, int root, unsigned jobs, const a_recorded_line& each);

struct a_journal;

// The record as the run of |journal| (install/journal.h) left the install
// directory |root|, hashing up to |jobs| files at once: each file the
// journal says it put in place that holds what the journal says is
// recorded so; any other keeps its record (or stays unrecorded), as the
// run may not have put it in place yet. Each file it says it took away that is gone
// leaves the record. The run joins the installs, not complete.
void absorb_journal(an_install_record& record, const a_journal& journal, int root, unsigned jobs);

// The same as the journal tells it, without looking at the install
// directory (status): every file it names as it names it.
void show_journal(an_install_record& record, const a_journal& journal);

// True when |file| was changed since it was recorded: another type, other
// bytes or another link target (permission bits alone do not count), or
// nothing there.
bool changed_since_recorded(const an_installed_file& file);
