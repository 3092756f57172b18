// The set of files an archive is built from.
//
// a_dir_scan_info walks directory trees, reads path-list files and takes
// explicit lists, and records every path it meets in one map ordered
// byte-wise. A path is recorded exactly as it was built: relative paths stay
// relative, a directory's members are "<dir>/<name>", and members of "." are
// their bare names. For each path it records whether the file was present
// and, while read_version_info is set, the file's version stamp block.
//
// The archive builder (Tic::compress) reads |files| in key order: each key is
// both the file that is read and the name it is stored under.
//
// Nothing here prints. Failures show only as -1 results, and whatever was
// recorded before a failure stays. A scan only ever adds or updates paths.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "stamp/dbversion.h"

struct a_dir_scan_entry {
  // The file's version stamp block; null when none was read or found.
  std::unique_ptr<dbversion_info> info;
  // False when the path did not exist when it was scanned. Paths taken from
  // a path-list file or an explicit list are present without a look.
  bool present = false;
  // A directory met while scanning (recorded only with record_directories).
  bool directory = false;
};

struct a_dir_scan_info {
  a_dir_scan_info();
  // Scans one path, or a list of paths, as scan() does.
  explicit a_dir_scan_info(const std::string& path);
  explicit a_dir_scan_info(const std::vector<std::string>& paths);

  // Path -> entry. std::string compares with memcmp, so the order is that of
  // unsigned bytes.
  std::map<std::string, a_dir_scan_entry> files;
  // Read each present file's version stamp block when recording it.
  bool read_version_info = true;
  // Record every directory that is descended into, with |directory| set,
  // besides its members. Off by default: the directories then leave no
  // trace in |files|.
  bool record_directories = false;
  // The directories met inside a tree and not descended into because their
  // names end in "." (other than "." and ".."), in the order met: the
  // caller may want to say what the scan passed over.
  std::vector<std::string> skipped_directories;

  // Applies the element rule to each path in order; -1 at the first failing
  // element (later ones are not scanned).
  int scan(const std::string& path);
  int scan(const std::vector<std::string>& paths);

  // The element rule for one path:
  //   "@<file>"     every path listed in <file> (-1 when it cannot be read)
  //   a directory   its whole tree, unless the path ends with "."
  //   anything else (file, symbolic link, device)  recorded as present
  //   absent        recorded with present false and no stamp
  // -1 only for an lstat failure other than ENOENT.
  int process_element(const std::string& path);

  // Records the whole tree below |dir|: every member through the element
  // rule, except that members lstat cannot look at and unreadable "@"
  // members are skipped. Directories whose names end in "." ("." and ".."
  // among them) are not descended into; symbolic links are never followed.
  // -1 only when |dir| itself cannot be opened.
  int scan_dir(const std::string& dir);

  // Scans the directory |path| from its parent so that the recorded paths
  // keep the last |count| elements of |path|: "/x/y/z" with count 1 records
  // "z/...", with count 2 "y/z/...". Count 0 (or less) records the members
  // under their bare names. A path with fewer separators than |count|, or
  // whose only separator is the leading "/", is scanned whole from the
  // current directory. The working directory is restored on every path out.
  // The result of scan_dir, or -1 when the working directory is unknown.
  int scan_dir_keep_path_elements(const std::string& path, int count);

  // 0 when |dir| ends with ".", else 1.
  unsigned should_scan_dir(const std::string& dir) const;

  // Records |path| as present, with its version stamp block when
  // read_version_info is set (symbolic links are not followed).
  void process_file(const std::string& path);

  // Records |path| with |info| (which the entry takes over; an earlier one
  // is freed) and present = |present|.
  void add_file(const std::string& path, std::unique_ptr<dbversion_info> info, bool present);

  // Records the directory |path| as present when record_directories is set.
  void add_directory(const std::string& path);

  // Records every line of the path-list file |list| as process_file does,
  // without looking at the paths on disk. Lines are taken whole, whatever
  // their length; one trailing "\n" is removed. -1 when |list| cannot be
  // opened.
  int load_from_file(const std::string& list);

  // Records every path of |paths| as present, with no stamp, without
  // touching the disk.
  void init_with_list(const std::vector<std::string>& paths);

 private:
  // The element rule; |in_tree| applies scan_dir's leniency.
  int apply_element_rule(const std::string& path, bool in_tree);
};

// Where scan_dir_keep_path_elements scans |path| from: |directory| is the
// directory to change into (empty: stay), |tail| the path to scan there.
// Runs of "/" count as one separator and trailing ones are ignored.
void split_kept_path(const std::string& path, int count, std::string& directory, std::string& tail);
