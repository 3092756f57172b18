#include "build_command.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "crypto/archive_key.h"
#include "display/progress.h"
#include "platform/current_directory.h"
#include "platform/fd.h"
#include "scan/dir_scan.h"
#include "tic/entry_name.h"
#include "tic/error.h"
#include "tic/tic.h"

namespace {

constexpr int kFailure = 1;

void complain(const char* format, ...) __attribute__((format(printf, 1, 2)));
void complain(const char* format, ...) {
  std::fputs("tictool: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

// "./a/b/" -> "a/b": the spellings of one path that would otherwise give
// entry names no list file holds.
std::string tidy_path(std::string path) {
  while (path.size() > 2 && path.compare(0, 2, "./") == 0) {
    path.erase(0, 2);
    while (!path.empty() && path[0] == '/') path.erase(0, 1);
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool check_entry_name(const std::string& name) {
  const char* problem = entry_name_problem(name);
  if (problem == nullptr) return true;
  complain("%s: %s; entry names are relative to the install directory", name.c_str(), problem);
  return false;
}

// Opens the list file, which must be there and readable: the reader takes a
// file it cannot open for an empty list.
bool open_list_file(const std::string& path, std::ifstream& in) {
  in.open(path);
  if (in) {
    // Reading a directory fails only at the first read; say so at once.
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return true;
    errno = EISDIR;
  }
  complain("cannot read list file %s: %s", path.c_str(), std::strerror(errno));
  return false;
}

// The archive is named relative to where tictool started; the build may run
// in another directory.
bool absolute_archive_path(const std::string& archive, std::string& out) {
  if (!archive.empty() && archive[0] == '/') {
    out = archive;
    return true;
  }
  std::string here;
  if (!current_directory(here)) {
    complain("cannot tell the current directory: %s", std::strerror(errno));
    return false;
  }
  out = here + "/" + archive;
  return true;
}

// The archive being built, drawing the progress line when there is one.
class BuildTic : public Tic {
 public:
  using Tic::Tic;

  void compression_progress(const std::string& name, unsigned long long size, unsigned long mode,
                            unsigned long long done, unsigned long long total) override {
    if (progress != nullptr) progress->display_progress(name, size);
    Tic::compression_progress(name, size, mode, done, total);
  }

  a_progress_reporter* progress = nullptr;
};

// Scans one path named on the command line into |scan|. With -k every path
// must lie in one directory, which |build_directory| remembers.
bool scan_path(const a_build_request& request, size_t index, a_dir_scan_info& scan, std::string& build_directory) {
  const std::string path = tidy_path(request.paths[index]);
  if (request.keep_path_elements >= 0) {
    std::string directory, tail;
    split_kept_path(path, request.keep_path_elements, directory, tail);
    if (index > 0 && directory != build_directory) {
      complain("%s: paths kept with -k must lie in one directory (%s is not %s)", path.c_str(),
               directory.empty() ? "." : directory.c_str(), build_directory.empty() ? "." : build_directory.c_str());
      return false;
    }
    build_directory = directory;
    if (scan.scan_dir_keep_path_elements(path, request.keep_path_elements) != 0) {
      complain("cannot scan directory %s: %s", path.c_str(), std::strerror(errno));
      return false;
    }
    return true;
  }
  if (path[0] == '@') {
    if (scan.load_from_file(path.substr(1)) == 0) return true;
    complain("cannot read path list %s: %s", path.c_str() + 1, std::strerror(errno));
    return false;
  }
  if (!check_entry_name(path)) return false;
  struct stat st;
  // A directory named on the command line is scanned whatever its name:
  // "." is the usual case.
  const bool is_directory = lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  if (is_directory ? scan.scan_dir(path) == 0 : scan.process_element(path) == 0) return true;
  complain("cannot scan %s: %s", path.c_str(), std::strerror(errno));
  return false;
}

// Every scanned path must make an entry name and be there; adds up the
// sizes of the files to archive for the progress line.
bool check_scan(const a_dir_scan_info& scan, const Tic& tic, unsigned long long& total) {
  for (const auto& [name, entry] : scan.files) {
    if (!check_entry_name(name)) return false;
    if (!entry.present) {
      complain("%s: %s", name.c_str(), std::strerror(ENOENT));
      return false;
    }
    if (tic.compressing_me(name)) continue;
    struct stat st;
    if (lstat(name.c_str(), &st) == 0) total += static_cast<unsigned long long>(st.st_size);
  }
  return true;
}

// Says why compress failed, unless the library has said it already: the
// input file the failing step worked on, or the archive.
void report_build_failure(const std::string& archive, const std::string& absolute_archive) {
  if (ERROR == kErrorNotInToc) return;  // "File not in toc: ..." is on standard error
  const std::string& subject = error_subject();
  const std::string cause = error_cause();
  if (subject.empty() || subject == absolute_archive)
    complain("cannot write archive %s: %s", archive.c_str(), cause.c_str());
  else
    complain("cannot archive %s: %s", subject.c_str(), cause.c_str());
}

}  // namespace

int run_build(const a_build_request& request) {
  std::ifstream list;
  if (!open_list_file(request.list_file, list)) return kFailure;
  std::string archive;
  if (!absolute_archive_path(request.archive, archive)) return kFailure;

  const ArchiveKey key;
  BuildTic tic(nullptr, request.verbose, request.use_key ? key.bytes() : nullptr, request.use_key ? key.length() : 0);
  tic.set_path(archive.c_str());
  tic.set_product_name(request.product);
  if (!tic.get_toc().read(list)) {
    complain("cannot load list file %s", request.list_file.c_str());
    return kFailure;
  }
  list.close();

  if (!request.directory.empty() && chdir(request.directory.c_str()) != 0) {
    complain("cannot change into %s: %s", request.directory.c_str(), std::strerror(errno));
    return kFailure;
  }
  a_dir_scan_info scan;
  scan.read_version_info = false;  // the builder uses only the paths
  std::string build_directory;
  for (size_t i = 0; i < request.paths.size(); ++i) {
    if (!scan_path(request, i, scan, build_directory)) return kFailure;
  }
  if (!build_directory.empty() && chdir(build_directory.c_str()) != 0) {
    complain("cannot change into %s: %s", build_directory.c_str(), std::strerror(errno));
    return kFailure;
  }
  unsigned long long total = 0;
  if (!check_scan(scan, tic, total)) return kFailure;

  int result;
  {
    // The same line install draws, on a terminal only.
    std::unique_ptr<a_progress_reporter> progress;
    if (!request.verbose && isatty(STDOUT_FILENO)) {
      progress = std::make_unique<a_progress_reporter>();
      progress->total = total;
    }
    tic.progress = progress.get();
    result = tic.compress(&scan, request.all);
    tic.progress = nullptr;
  }
  if (result == 0) return 0;

  report_build_failure(request.archive, archive);
  // Once the file was created, what is left of it has no header: no reader
  // can use it.
  if (error_step(ERROR) != kStepOpenArchive) unlink(archive.c_str());
  return kFailure;
}
