#include "build_command.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/progress.h"
#include "crypto/archive_key.h"
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

// The list file must be there and readable: the reader takes a file it
// cannot open for an empty list.
bool check_list_file(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.valid()) {
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISDIR(st.st_mode)) return true;
    errno = EISDIR;
  }
  complain("cannot read list file %s: %s", path.c_str(), std::strerror(errno));
  return false;
}

// The archive being built: counts the files it has begun, for naming the one
// that failed, and draws the progress line when there is one.
class BuildTic : public Tic {
 public:
  using Tic::Tic;

  void compression_progress(const std::string& name, unsigned long long size, unsigned long mode,
                            unsigned long long done, unsigned long long total) override {
    ++files_begun;
    if (progress != nullptr) progress->display_progress(name, size);
    Tic::compression_progress(name, size, mode, done, total);
  }

  size_t files_begun = 0;
  a_progress_reporter* progress = nullptr;
};

// The steps of a build that fail because of one input file rather than the
// archive, and whether the builder had begun that file (called its progress
// hook) when they happen.
bool input_file_step(unsigned step, bool& begun) {
  switch (step) {
    case 0x480:  // lstat of the file
    case 0x486:  // reading a link
    case 0x48a:  // the tar header
      begun = false;
      return true;
    case 0x491:  // copying the contents
    case 0x4bb:  // opening the file
    case 0x4c3:  // reading it
    case 0x4c4:  // handing its data to the compressor
      begun = true;
      return true;
    default:
      return false;
  }
}

// Says why compress failed, unless the library has said it already.
void report_build_failure(const std::string& archive, const std::vector<std::string>& files, size_t begun) {
  if (ERROR == -1) return;  // "File not in toc: ..." is on standard error
  const unsigned step = static_cast<unsigned>(ERROR >> 8) & 0xfff;
  const int error_number = static_cast<int>(ERROR & 0xff);
  const std::string reason = error_number != 0 ? std::string(": ") + std::strerror(error_number) : "";
  bool file_begun = false;
  if (input_file_step(step, file_begun)) {
    const size_t index = file_begun ? begun - 1 : begun;
    if (index < files.size()) {
      complain("cannot archive %s%s", files[index].c_str(), reason.c_str());
      return;
    }
  }
  complain("cannot write archive %s%s", archive.c_str(), reason.c_str());
}

}  // namespace

int run_build(const a_build_request& request) {
  if (!check_list_file(request.list_file)) return kFailure;

  // The archive is named relative to where tictool started; the build may run
  // in another directory.
  std::string archive = request.archive;
  if (archive.empty() || archive[0] != '/') {
    std::string here;
    if (!current_directory(here)) {
      complain("cannot tell the current directory: %s", std::strerror(errno));
      return kFailure;
    }
    archive = here + "/" + archive;
  }

  char key[kArchiveKeyBufferSize];
  __Xk(key, sizeof key);
  const unsigned char* key_bytes = request.use_key ? reinterpret_cast<const unsigned char*>(key) : nullptr;
  const int key_length = request.use_key ? static_cast<int>(std::strlen(key)) : 0;

  BuildTic tic(nullptr, request.verbose, key_bytes, key_length);
  tic.set_path(archive.c_str());
  tic.set_product_name(request.product);
  if (!tic.get_toc().read(request.list_file.c_str())) {
    complain("cannot load list file %s", request.list_file.c_str());
    return kFailure;
  }

  if (!request.directory.empty() && chdir(request.directory.c_str()) != 0) {
    complain("cannot change into %s: %s", request.directory.c_str(), std::strerror(errno));
    return kFailure;
  }

  a_dir_scan_info scan;
  scan.read_version_info = false;  // the builder uses only the paths
  std::string build_directory;
  const bool keep = request.keep_path_elements >= 0;
  for (size_t i = 0; i < request.paths.size(); ++i) {
    const std::string path = tidy_path(request.paths[i]);
    if (keep) {
      std::string directory, tail;
      split_kept_path(path, request.keep_path_elements, directory, tail);
      if (i > 0 && directory != build_directory) {
        complain("%s: paths kept with -k must lie in one directory (%s is not %s)", path.c_str(),
                 directory.empty() ? "." : directory.c_str(), build_directory.empty() ? "." : build_directory.c_str());
        return kFailure;
      }
      build_directory = directory;
      if (scan.scan_dir_keep_path_elements(path, request.keep_path_elements) != 0) {
        complain("cannot scan directory %s: %s", path.c_str(), std::strerror(errno));
        return kFailure;
      }
      continue;
    }
    if (path[0] == '@') {
      if (scan.load_from_file(path.substr(1)) != 0) {
        complain("cannot read path list %s: %s", path.c_str() + 1, std::strerror(errno));
        return kFailure;
      }
      continue;
    }
    if (!check_entry_name(path)) return kFailure;
    struct stat st;
    // A directory named on the command line is scanned whatever its name:
    // "." is the usual case.
    const bool is_directory = lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (is_directory ? scan.scan_dir(path) != 0 : scan.process_element(path) != 0) {
      complain("cannot scan %s: %s", path.c_str(), std::strerror(errno));
      return kFailure;
    }
  }

  if (!build_directory.empty() && chdir(build_directory.c_str()) != 0) {
    complain("cannot change into %s: %s", build_directory.c_str(), std::strerror(errno));
    return kFailure;
  }

  std::vector<std::string> files;
  unsigned long long total = 0;
  for (const auto& [name, entry] : scan.files) {
    if (!check_entry_name(name)) return kFailure;
    if (!entry.present) {
      complain("%s: %s", name.c_str(), std::strerror(ENOENT));
      return kFailure;
    }
    if (tic.compressing_me(name)) continue;
    files.push_back(name);
    struct stat st;
    if (lstat(name.c_str(), &st) == 0) total += static_cast<unsigned long long>(st.st_size);
  }

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

  report_build_failure(request.archive, files, tic.files_begun);
  // Once the file was created, what is left of it has no header: no reader
  // can use it.
  if (((ERROR >> 8) & 0xfff) != 0x44a) unlink(archive.c_str());
  return kFailure;
}
