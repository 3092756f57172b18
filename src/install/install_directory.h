// A directory that extraction writes into: the install directory, or the
// backup tree beside it.
//
// Everything below the directory is reached from its own descriptor one path
// element at a time, never through a symbolic link, whoever made the link:
// an archive cannot write outside the directory by first installing a link
// and then a file "through" it. The directory itself may be a symbolic link
// (an administrator who wants the product on another disk points the install
// directory there).
//
// Files are made under a temporary name in their final directory and put in
// place with one rename, so a final path always holds either the old object
// or the new one. Temporaries are named ".kestrel-tmp-<pid>-<n>"; when a
// directory is first visited, temporaries that killed installs left are
// removed. The caller holds the install directory's lock
// (install/install_lock.h), but install directories nest: a temporary is
// left alone while its process runs, or while the directory that holds it,
// or one above it, is locked by another kestrel.
//
// Directories are created as needed (mode 0777 under the umask); those this
// object created are remembered so that a failed installation can take away
// the ones that stayed empty. Descriptors of visited directories are cached;
// all operations may be used from several threads at once.
#pragma once

#include <fcntl.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/fd.h"
#include "install/install_steps.h"

// Where one name lies: the directory that holds it (an open descriptor,
// shared with the cache) and its last path element.
struct a_place {
  std::shared_ptr<const UniqueFd> directory;
  std::string parent;  // the directory's path below the root ("" for the root)
  std::string base;    // the last element of the name
  uint64_t generation = 0;

  int fd() const { return directory->get(); }
};

class InstallDirectory {
 public:
  static constexpr const char* kTemporaryPrefix = ".kestrel-tmp-";

  InstallDirectory();
  ~InstallDirectory();
  InstallDirectory(const InstallDirectory&) = delete;
  InstallDirectory& operator=(const InstallDirectory&) = delete;

  // Opens |path| as the root, a relative |path| from the directory |base|
  // (AT_FDCWD: the current one); with |create|, makes it and its missing
  // parents first. |path| is followed wherever it leads.
  bool open(const std::string& path, bool create, a_failure& failure, int base = AT_FDCWD);
  // Opens |relative| below |parent| as the root, through |parent|'s rules
  // (no symbolic links), with |create| creating what is missing.
  bool open_below(InstallDirectory& parent, const std::string& relative, a_failure& failure, bool create = true);

  int descriptor() const { return root_->get(); }

  // The place of |name|, a relative path below the root. Missing directories
  // on the way are created (without |create|: fail with ENOENT); a symbolic
  // link or a non-directory on the way fails (kStepParent, ELOOP or
  // ENOTDIR). |name| must have a last element that is a name ("a/b", not
  // "a/b/" or "a/.").
  bool place_of(const std::string& name, a_place& place, a_failure& failure, bool create = true);

  // True when |place|'s directory is still the one its path leads to: no
  // directory on the way was moved away (into a backup) since it was found.
  bool still_in_place(const a_place& place);

  // After this process moved a directory away: the cached descriptors may
  // lead elsewhere now, so they are dropped and every place found before
  // must be checked with still_in_place.
  void forget_directories();

  // A temporary name unique in this process.
  std::string temporary_name();

  // Removes, deepest first, the directories this object created that are
  // empty now.
  void remove_empty_created_directories();

  // Flushes the file system that holds the directory to disk.
  bool sync(a_failure& failure);

 private:
  // The cached descriptor of |path| (a directory path below the root, ""
  // for the root), opening what is on the way and, with |create|, making
  // what is missing. Called with |lock_| not held.
  std::shared_ptr<const UniqueFd> directory(const std::string& path, bool create, a_failure& failure);
  // Removes temporaries of processes that are gone from the directory |fd|.
  void sweep_temporaries(int fd);
  void remember(const std::string& path, const std::shared_ptr<const UniqueFd>& fd);

  std::shared_ptr<const UniqueFd> root_;
  std::mutex lock_;
  std::unordered_map<std::string, std::shared_ptr<const UniqueFd>> cache_;
  std::vector<std::string> created_;
  uint64_t generation_ = 0;
  uint64_t next_temporary_ = 0;
  std::string temporary_stem_;  // the prefix and this process's id
};

// True when |name| is a temporary (kTemporaryPrefix) of another process
// that no longer runs (process_runs, install/install_lock.h): what a killed
// command left, which nobody will rename, unless a kestrel of another PID
// namespace made it, which the lock of its directory tells.
bool is_abandoned_temporary(const char* name);

// Removes those of |names|, members of the directory |directory|, that are
// temporaries no running kestrel may still own: abandoned ones, unless the
// directory or one above it is locked by another process
// (locked_at_or_above, install/install_lock.h). A temporary directory goes
// when it is empty.
void remove_abandoned_temporaries(int directory, const std::vector<std::string>& names);

// |name| in the directory |directory|, a path below the root ("" for the
// root itself).
std::string join_path(const std::string& directory, const std::string& name);

// The path elements of |path|, without empty and "." elements: "a//./b"
// names the same place as "a/b".
std::vector<std::string> path_elements(const std::string& path);

// The elements of |path| joined by "/": "a//./b" is "a/b".
std::string normalised_path(const std::string& path);

// True when the last element of |name| is a name, so that it can name a
// file: "a/b" and "./a", not "", ".", "a/" or "a/.".
bool names_a_file(const std::string& name);

// Reaching what already lies below a directory, for the commands that only
// read or take away (verify, remove, restore): one element at a time from
// the directory's descriptor, never following a symbolic link and never
// creating anything, so that a link cannot lead them outside.
enum class a_reach {
  kReached,      // the directory was opened
  kAbsent,       // an element on the way does not exist or is not a directory
  kThroughLink,  // an element on the way is a symbolic link
  kFailed,       // anything else (permissions, descriptors): see the failure
};

struct a_reached_directory {
  UniqueFd directory;
  std::string base;  // reach_parent: the last element of the name
  std::string link;  // kThroughLink: the link's path below the root
};

// Opens the directory |path| below |root| ("" or "." for |root| itself).
// With kAbsent, errno says why (ENOENT, ENOTDIR).
a_reach reach_directory(int root, const std::string& path, a_reached_directory& out, a_failure& failure);

// Opens the directory below |root| that holds |name|, which must have a last
// element that is a name, as InstallDirectory::place_of requires.
a_reach reach_parent(int root, const std::string& name, a_reached_directory& out, a_failure& failure);

// The directories on the way to |name| ("a" and "a/b" for "a/b/c"), added
// to |out|.
void add_parent_directories(const std::string& name, std::set<std::string>& out);

// Removes those of |paths| (directories below |root|) that are empty, the
// deepest first, so that one emptied by the removal of another goes too.
// Never |root| itself and never through a symbolic link; a directory that
// is not empty, or not there, stays. The number removed.
size_t remove_empty_directories(int root, const std::set<std::string>& paths);
