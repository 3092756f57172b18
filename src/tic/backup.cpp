#include "tic/backup.h"

#include <errno.h>
#include <libgen.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "platform/unique.h"

namespace {

constexpr size_t kPathLimit = 1024;

// The directory part of |path|, cut to 1023 bytes, in |out|.
void directory_of(const char* path, char (&out)[kPathLimit]) {
  char copy[kPathLimit];
  snprintf(copy, sizeof copy, "%s", path);
  snprintf(out, kPathLimit, "%s", dirname(copy));
}

}  // namespace

int make_directories(char* path) {
  struct stat st;
  if (stat(path, &st) == 0) {
    if (S_ISDIR(st.st_mode)) return 0;
    errno = ENOTDIR;
    return -1;
  }
  if (mkdir(path, 0777) == 0) return 0;
  if (errno == ENOENT) {
    char* slash = strrchr(path, '/');
    // Cut before a whole run of separators, so "a//b" makes "a", not "a/".
    while (slash != nullptr && slash > path && slash[-1] == '/') --slash;
    if (slash != nullptr && slash != path) {
      *slash = '\0';
      const int parent = make_directories(path);
      *slash = '/';
      return parent == 0 ? mkdir(path, 0777) : parent;
    }
  }
  return -1;
}

int write_backup_marker(const char* path, const char* text) {
  char directory[kPathLimit];
  directory_of(path, directory);
  const int made = make_directories(directory);
  if (made != 0) return made;

  Unique<FILE, fclose> file(fopen(path, "w"));
  if (!file) return errno;
  const size_t length = strlen(text);
  if (fwrite(text, 1, length, file.get()) != length) return errno != 0 ? errno : EIO;
  return fclose(file.release());
}

int move_into_backup(const std::string& name, const std::string& backup_path) {
  char directory[kPathLimit];
  directory_of(backup_path.c_str(), directory);
  if (make_directories(directory) != 0) return -1;
  return rename(name.c_str(), backup_path.c_str());
}
