// The installed files compared with the archives they came from.
//
// The archives list every file they install, so they are the manifest of an
// installation: each file an option text selects is looked up below the
// install directory and compared with its stream as install would have put
// it there: the file type, a regular file's bytes and permission bits (those
// of the archive under the process umask, without set-user-ID, set-group-ID
// and sticky bits), a symbolic link's target. A directory's permission bits
// are not compared: install leaves a directory that is already there as it
// is.
//
// Every selected stream is decoded and checked against its MAC whatever is
// on disk: nothing is said about a file on the word of a stream that is not
// genuine. Nothing below the install directory is changed, not even access
// times where the system allows it; paths are followed without symbolic
// links (reach_parent, install/install_directory.h).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <string>

#include "platform/fd.h"
#include "install/install_steps.h"

class Tic;

// Ways an installed file differs from its stream, as bits.
enum a_difference : unsigned {
  // Nothing at the path, or the path leads through a symbolic link or
  // something else that is not a directory.
  kDifferenceMissing = 1u << 0,
  kDifferenceType = 1u << 1,     // an object of another type
  kDifferenceTarget = 1u << 2,   // a symbolic link to another target
  kDifferenceContent = 1u << 3,  // a regular file with other bytes
  kDifferenceMode = 1u << 4,     // a regular file with other permission bits
};

// One selected file as it is found below the install directory.
struct an_installed_file {
  std::string name;
  unsigned long mode = 0;    // file type and permission bits of the archive's entry
  unsigned differences = 0;  // a_difference bits
  std::string link;          // with kDifferenceMissing: the symbolic link on the way, if any
  dev_t device = 0;          // the object compared, when there was one
  ino_t inode = 0;
  // The installed object could not be read (permissions, I/O): it is then
  // not compared.
  a_failure problem;
};

// Compares every file |options| selects from |set| with what lies below the
// directory |root|, in name order, decoding up to |jobs| streams at once;
// |key| is the archive key. Once every stream has been checked, hands
// |each| one record per selected file, in name order. 0, or -1 with the
// failure recorded (error.h) and nothing handed out when the table of
// contents cannot be read or a stream cannot be decoded, holds an entry
// install would refuse, or does not match its MAC (the first such stream in
// name order). What is found of each file waits in an unnamed temporary in
// |spool_directory| (install/comparison_spool.h) until the files are handed
// out.
int compare_installed_files(Tic& set, const std::string& options, int root, const unsigned char* key,
                            int key_length, unsigned jobs, const std::string& spool_directory,
                            const std::function<void(const an_installed_file&)>& each);

// How remove_installed_file ended.
enum class a_removal {
  kRemoved,
  kGone,      // nothing is at the path any more
  kReplaced,  // another object took the compared one's place: it stays
  kFailed,    // see the failure
};

// Removes the installed object of |file| (a file or a symbolic link, found
// equal to its stream) from below |root|, provided the object at its path is
// still the one compared. A symbolic link on the way fails.
a_removal remove_installed_file(int root, const an_installed_file& file, a_failure& failure);

// What the comparisons with the archives and with the record
// (install/recorded_files.h) share.
//
// Finds the object at |file|'s name below |root|, never following a
// symbolic link: true with the directory that holds it in |at| (its name
// there in at.base) and its status in |st|, its device and inode noted in
// |file|; false when there is nothing to compare, with kDifferenceMissing
// (and the link on the way) or the problem noted in |file|.
struct a_reached_directory;
bool find_installed(int root, an_installed_file& file, a_reached_directory& at, struct stat& st);

// Opens the installed regular file |base| in |directory| to read it, never
// through a link and, where the system lets the caller ask, without
// changing its access time; |st| is its status. Not valid when it cannot be
// read as a regular file, with why noted in |file|.
UniqueFd open_installed_file(an_installed_file& file, int directory, const char* base, struct stat& st);

// Notes in |file| why its object could not be read: it is gone (ENOENT), it
// is of another type now (errno |other_type|), or a problem.
void note_unreadable(an_installed_file& file, int other_type);
