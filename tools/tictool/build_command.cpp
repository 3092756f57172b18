#include "build_command.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "crypto/archive_key.h"
#include "display/message.h"
#include "display/progress.h"
#include "platform/current_directory.h"
#include "platform/fd.h"
#include "scan/dir_scan.h"
#include "tic/archive/tic.h"
#include "tic/writer/builder.h"
#include "tic/writer/writer_steps.h"
#include "tic/format/entry_name.h"
#include "tic/format/list_file.h"

namespace {

constexpr int kFailure = 1;

void complain(const char* format, ...) __attribute__((format(printf, 1, 2)));
void complain(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vcomplain_as("tictool", format, args);
  va_end(args);
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

// What kind of file |mode| is, for a refusal.
const char* kind_of(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// One line for a scanned path the builder refuses.
void refuse(const a_build_refusal& refusal) {
  const std::string shown = printable(refusal.failure.subject);
  const char* path = shown.c_str();
  const std::string why = refusal.failure.text();
  switch (refusal.kind) {
    case a_build_refusal::kEntryName:
      complain("%s: %s; entry names are relative to the install directory", path, why.c_str());
      break;
    case a_build_refusal::kNameTooLong:
      complain("%s: name longer than %u bytes", path, TicToc::kMaxStringLength);
      break;
    case a_build_refusal::kMissing: complain("%s: %s", path, why.c_str()); break;
    case a_build_refusal::kFileType:
      complain("%s: %s; only regular files, directories and symbolic links can be archived", path,
               kind_of(refusal.mode));
      break;
  }
}

bool check_entry_name(const std::string& name) {
  Outcome named = valid_entry_name(name);
  if (!named) refuse({a_build_refusal::kEntryName, named.failure()});
  return named.ok();
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

bool check_option_count(const std::string& list_file, const TicOptions& options) {
  const std::vector<a_shared_bit> shared = options.shared_bits();
  for (const a_shared_bit& option : shared) {
    complain("%s: option %s is number %llu; an archive holds at most %zu options (it would share its bit with %s)",
             list_file.c_str(), option.name.c_str(), static_cast<unsigned long long>(option.bit),
             TicOptions::kDistinctOptions, option.shares_with.c_str());
  }
  return shared.empty();
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
      complain("%s: paths kept with -k must lie in one directory (%s is not %s)", printable(path).c_str(),
               directory.empty() ? "." : directory.c_str(), build_directory.empty() ? "." : build_directory.c_str());
      return false;
    }
    build_directory = directory;
    if (scan.scan_dir_keep_path_elements(path, request.keep_path_elements) != 0) {
      complain("cannot scan directory %s: %s", printable(path).c_str(), std::strerror(errno));
      return false;
    }
    // The directory itself, under the name its members are stored below.
    if (tail != ".") scan.add_directory(tail);
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
  if (is_directory && path != ".") scan.add_directory(path);
  if (is_directory ? scan.scan_dir(path) == 0 : scan.process_element(path) == 0) return true;
  complain("cannot scan %s: %s", printable(path).c_str(), std::strerror(errno));
  return false;
}

// SOURCE_DATE_EPOCH, when set and not empty: seconds since 1970 in decimal.
bool source_date_epoch(bool& set, long long& epoch) {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  set = text != nullptr && *text != '\0';
  if (!set) return true;
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  // Up to the end of the year 9999: what the stamp's dates can show.
  if (*text < '0' || *text > '9' || *end != '\0' || errno != 0 || value > 253402300799ULL) {
    complain("SOURCE_DATE_EPOCH=%s: not a number of seconds since 1970", text);
    return false;
  }
  epoch = static_cast<long long>(value);
  return true;
}

// The build's settings from the request and the environment.
bool configure(const a_build_request& request, TicBuilder& builder) {
  bool has_epoch = false;
  long long epoch = 0;
  if (!source_date_epoch(has_epoch, epoch)) return false;
  builder.set_jobs(request.jobs != 0 ? request.jobs : std::max(1u, std::thread::hardware_concurrency()));
  if (has_epoch) builder.set_source_date_epoch(epoch);
  builder.set_compression(request.compression, request.zstd_level);
  a_stamp_entries version_info;
  for (const auto& [name, value] : request.version_info) version_info.push_back({name, value});
  builder.set_version_info(version_info);
  return true;
}

// Reads the list file once into the archive's table of contents, naming
// every bad line, and checks what the table and the stamp can hold.
bool load_list(const a_build_request& request, std::ifstream& list, Tic& tic, const TicBuilder& builder) {
  // Each refused line gets a line with its place and what is wrong after
  // the reader's own message; a line taken with doubts, one per doubt.
  const std::string& file = request.list_file;
  auto notes = [&file](size_t line, const a_failure& refusal, const std::vector<std::string>& doubts) {
    if (refusal.failed()) complain("%s:%zu: %s", file.c_str(), line, printable(refusal.text()).c_str());
    for (const std::string& doubt : doubts)
      complain("%s:%zu: warning: %s", file.c_str(), line, printable(doubt).c_str());
  };
  if (!tic.get_toc().read(list, true, notes)) {
    complain("cannot load list file %s", request.list_file.c_str());
    return false;
  }
  list.close();
  if (!check_option_count(request.list_file, tic.get_toc().options)) return false;
  TicHeader header;
  a_stamp_entries stamp;
  builder.build_version(header, stamp);
  if (stamp_fits(stamp)) return true;
  complain("the version stamp would take %zu bytes in %zu entries; it holds at most %zu bytes and %u entries",
           stamp_block_length(stamp), stamp.size(), kStampDataSize, kStampMaxArgs);
  return false;
}

// Scans every path named, from the -C directory, then changes into the
// directory that -k paths lie in. |scanned| turns false when a path cannot
// be scanned; false when a directory cannot be entered.
bool scan_paths(const a_build_request& request, a_dir_scan_info& scan, bool& scanned) {
  if (!request.directory.empty() && chdir(request.directory.c_str()) != 0) {
    complain("cannot change into %s: %s", request.directory.c_str(), std::strerror(errno));
    return false;
  }
  scan.read_version_info = false;  // the builder uses only the paths
  scan.record_directories = true;  // listed directories are stored
  std::string build_directory;
  for (size_t i = 0; i < request.paths.size(); ++i) {
    if (!scan_path(request, i, scan, build_directory)) scanned = false;
  }
  if (build_directory.empty() || chdir(build_directory.c_str()) == 0) return true;
  complain("cannot change into %s: %s", build_directory.c_str(), std::strerror(errno));
  return false;
}

// One line for each directory the scan passed over because its name ends
// in "."; naming it on the command line scans it.
void warn_skipped(const a_dir_scan_info& scan) {
  for (const std::string& path : scan.skipped_directories)
    complain("warning: %s: directory not scanned, as its name ends in \".\"; name it as a path to include it",
             printable(path).c_str());
}

// Without -a a listed file that no scan found is left out of the archive
// without a trace: one line for each.
void warn_unscanned(const a_build_request& request, const TicToc& toc, const a_dir_scan_info& scan) {
  if (request.all) return;
  for (const auto& item : toc.file_map) {
    if (scan.files.count(item.first) != 0) continue;
    complain("warning: %s: listed in %s but not found by the scan; left out (-a keeps a record without data)",
             printable(item.first).c_str(), request.list_file.c_str());
  }
}

// Writes the archive, drawing the same line install draws, on a terminal
// only.
Outcome compress(const a_build_request& request, BuildTic& tic, TicBuilder& builder, const a_dir_scan_info& scan,
                 unsigned long long total) {
  std::unique_ptr<a_progress_reporter> progress;
  if (!request.verbose && isatty(STDOUT_FILENO)) {
    progress = std::make_unique<a_progress_reporter>();
    progress->total = total;
  }
  tic.progress = progress.get();
  Outcome built = builder.compress(scan, request.all);
  tic.progress = nullptr;
  return built;
}

// Says why the build failed, unless the builder has said it already: the
// input file the failing step worked on, or the archive.
void report_build_failure(const std::string& archive, const std::string& absolute_archive, const a_failure& failure) {
  if (failure.step == kStepNotInToc) return;  // "File not in toc: ..." is on standard error
  const std::string& subject = failure.subject;
  const std::string cause = failure.text();
  if (subject.empty() || subject == absolute_archive)
    complain("cannot write archive %s: %s", archive.c_str(), cause.c_str());
  else
    complain("cannot archive %s: %s", printable(subject).c_str(), printable(cause).c_str());
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
  TicBuilder builder(tic);
  if (!configure(request, builder) || !load_list(request, list, tic, builder)) return kFailure;

  a_dir_scan_info scan;
  bool scanned = true;
  if (!scan_paths(request, scan, scanned)) return kFailure;
  warn_skipped(scan);
  unsigned long long total = 0;
  if (!builder.check(scan, refuse, &total) || !scanned) {
    // What an earlier build left under the name would pass for this one.
    unlink(archive.c_str());
    return kFailure;
  }
  warn_unscanned(request, tic.get_toc(), scan);
  const Outcome built = compress(request, tic, builder, scan, total);
  if (built) return 0;

  report_build_failure(request.archive, archive, built.failure());
  // Once the file was created, what is left of it has no header: no reader
  // can use it.
  if (built.failure().step != kStepOpenArchive) unlink(archive.c_str());
  return kFailure;
}
