// The inventory of the installations kestrel recorded on the machine, as
// status --all, --files and --owner show it: what dpkg -l, -L and -S tell
// of packages.
//
// The records are those of the state directory (install/record_store.h)
// and, for a user other than root, the system's records of the directories
// the user has none of. A record that cannot be read is named on standard
// error and passed over, so that the others still show.
#pragma once

#include <string>

struct an_install_record;

// status --all: every installation recorded, in byte-wise order of its
// directory: per installation a block of lines ("directory", then
// "product", "version", "complete", "when", "options" and "files",
// indented), or one document {"installations": [...]} holding what
// status --json shows of each. 0, or 1 when nothing is recorded.
int print_installations(bool json);

// status --files: every file of |record| in byte-wise order of its name, one
// line "<type> <mode> <size> <sha256> <name>" ("-" for a directory's
// digest), or one document {"directory": ..., "files": [...]}. 0.
int print_recorded_files(const an_install_record& record, bool json);

// status --owner: the install directory of every installation whose record
// holds |path| (taken from the current directory; its directories are
// resolved, its last element is not followed), one per line, or one
// document {"path": ..., "owners": [{"directory", "name", "type"}]}.
// 0, or 1 after one line on standard error when none holds it.
int print_owners(const std::string& path, bool json);
