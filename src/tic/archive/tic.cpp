#include "tic/archive/tic.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cstring>

#include "platform/unique.h"
#include "tic/archive/archive_steps.h"

namespace {

using MallocText = Unique<char, free>;

}  // namespace

Tic::Tic(const char* path, bool verbose, const unsigned char* key, int key_length)
    : log_stream(stderr),
      path_(nullptr),
      verbose_(verbose),
      key_(key),
      key_length_(key_length),
      product_name_("tarnvale") {
  if (path != nullptr) open(path);
}

Tic::~Tic() = default;

int Tic::open(const char* path) {
  path_ = path;
  if (path == nullptr) {
    open_problem_ = "no archive named";
    return -1;
  }
  descriptor_.reset(open_regular_file(path, open_problem_));
  if (!descriptor_.valid()) return -1;
  toc_problem_ = nullptr;
  if (read_toc(false) == -1) {
    descriptor_.reset();
    open_problem_ = toc_problem_ != nullptr ? toc_problem_ : "cannot read the table of contents";
    return -1;
  }
  return 0;
}

bool read_tic_header(int descriptor, TicHeader& header, bool* swap, const char** error) {
  unsigned char bytes[TicHeader::kSize];
  const ssize_t got = pread_full(descriptor, bytes, sizeof bytes, 0);
  if (got < 0) {
    if (error != nullptr) *error = "cannot read the header";
    return false;
  }
  ByteSpan in(bytes, static_cast<size_t>(got));
  return header.decode_from(&in, swap, error);
}

int Tic::read_toc(bool force) {
  if (!descriptor_.valid()) return -1;
  if (tables_kept_) return 0;
  if (!force && !toc_.file_map.empty()) return 0;
  TicHeader header;
  bool swap;
  if (!read_tic_header(descriptor_.get(), header, &swap, &toc_problem_)) return -1;
  // The bytes as they lie in the file, for a check that reads them again.
  TicHeader as_read = header;
  if (swap) as_read.swap_endian();
  std::memcpy(loaded_header_, &as_read, sizeof loaded_header_);
  return toc_.read(descriptor_.get(), header, swap, &toc_problem_) ? 0 : -1;
}

void Tic::keep_tables() { tables_kept_ = true; }

const TicTocEntry* Tic::find_file(const std::string& name) const {
  auto found = toc_.file_map.find(name);
  return found == toc_.file_map.end() ? nullptr : &found->second;
}

int Tic::seek_file(const std::string& name) {
  if (read_toc(false) == -1) {
    record_error(kStepSeekLoadToc);
    return -1;
  }
  const TicTocEntry* entry = find_file(name);
  if (entry == nullptr || entry->data_offset == 0) return -1;
  if (!seek_exact(descriptor_.get(), entry->data_offset)) {
    record_error(kStepSeekData);
    return -1;
  }
  return descriptor_.get();
}

bool Tic::compressing_me(const std::string& path) const {
  if (path_ == nullptr) return false;
  MallocText mine(realpath(path_, nullptr));
  MallocText theirs(realpath(path.c_str(), nullptr));
  if (!mine || !theirs) return false;
  return strncmp(mine.get(), theirs.get(), 1024) == 0;
}

void Tic::compression_progress(const std::string& name, unsigned long long, unsigned long, unsigned long long,
                               unsigned long long) {
  if (!verbose_) return;
  printf("Compressing %s\n", name.c_str());
  fflush(stdout);
}

void Tic::extraction_progress(const std::string& name, unsigned long long, unsigned long, unsigned long long,
                              unsigned long long) {
  if (!verbose_) return;
  printf("Extracting %s\n", name.c_str());
  fflush(stdout);
}

int Tic::extract(const std::string& options, const std::string& backup_dir) {
  if (extractor_ == nullptr) {
    errno = ENOSYS;
    record_error(kStepNoEngine, path_ != nullptr ? path_ : "", "no extraction engine");
    return -1;
  }
  return extractor_->extract(*this, options, backup_dir);
}

int Tic::compress(const a_dir_scan_info* scan, bool all) {
  if (compressor_ == nullptr || scan == nullptr) {
    errno = ENOSYS;
    record_error(kStepNoEngine, path_ != nullptr ? path_ : "", "no archive builder");
    return 1;
  }
  return compressor_->compress(*this, *scan, all);
}

int Tic::write_toc(bool all) { return compressor_ != nullptr ? compressor_->write_toc(*this, all) : -1; }

int Tic::write_dbversion(TicHeader& header) {
  return compressor_ != nullptr ? compressor_->write_dbversion(*this, header) : -1;
}
