// The install log (install -l, upgrade -l): one line "mode size name" per
// file, in the order files are put in place, then "ok" once the
// installation succeeded and its files are on disk.
#pragma once

#include <stdio.h>

#include <string>

#include "platform/failure.h"
#include "platform/unique.h"

class InstallLog {
 public:
  // Opens |path| for writing, emptied: inside the install directory open
  // as |root| without following any symbolic link there (an archive may
  // have left one at the log's path), elsewhere as the system follows it
  // (install/admin_path.h). Failures name |path|.
  Outcome open(int root, const std::string& path);
  bool is_open() const { return static_cast<bool>(file_); }
  // Where the log lies below the install directory, when it lies inside
  // it ("" otherwise): extraction keeps archives away from it.
  const std::string& inside() const { return inside_; }

  // The line of one file about to be put in place, written through.
  void line(const std::string& name, unsigned long long size, unsigned long mode);

  // Ends the log with "ok" and puts it on disk. When that fails the log is
  // cut back to what it held before, so that it never ends in "ok" unless
  // the installation succeeded.
  Outcome finish();

  void close() { file_.reset(); }

 private:
  std::string path_;
  std::string inside_;
  Unique<FILE, fclose> file_;
};
