// The backup tree of an installation.
//
// Before extraction replaces an object of the install directory, the object
// is moved to the same relative path below the backup directory; for a file
// that did not exist yet a marker "created as NAME\n" is written there
// instead, so that the previous state can be restored.
#pragma once

#include <string>

// Creates |path| and its missing parents with mode 0777 (under the umask).
// 0 when |path| is (now) a directory; -1 with errno set otherwise, ENOTDIR
// when a non-directory is in the way. |path| is modified while the call
// runs and restored before it returns.
int make_directories(char* path);

// Writes |text| to a new file at |path|, creating its directory. 0, or a
// nonzero code (the result of make_directories, or errno).
int write_backup_marker(const char* path, const char* text);

// Moves the object at |name| (relative to the current directory) to
// |backup_path|, creating the directories it needs. 0, or -1 with errno set;
// a backup directory on another file system fails with EXDEV.
int move_into_backup(const std::string& name, const std::string& backup_path);
