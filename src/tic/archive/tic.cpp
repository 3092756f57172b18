#include "tic/archive/tic.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "platform/unique.h"
#include "tic/archive/archive_steps.h"
#include "tic/format/format_steps.h"

namespace {

using MallocText = Unique<char, free>;

// Tic::extract or Tic::compress asked of an object given no engine for it.
a_failure no_engine(const char* archive, const char* which) {
  errno = ENOSYS;
  return failure_of(kStepNoEngine, archive != nullptr ? archive : "", which);
}

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
  Outcome opened = open_archive();
  read_failure_ = opened.failure();
  return opened ? 0 : -1;
}

Outcome Tic::open_archive() {
  if (path_ == nullptr) return refusal_of(kStepNotOpen, "", "no archive named");
  Result<UniqueFd> opened = open_regular_file(path_);
  if (!opened) return opened.failure();
  descriptor_ = std::move(opened.value());
  Outcome loaded = load_tables(false);
  if (!loaded) descriptor_.reset();
  return loaded;
}

Outcome read_tic_header(int descriptor, TicHeader& header, bool* swap) {
  unsigned char bytes[TicHeader::kSize];
  const ssize_t got = pread_full(descriptor, bytes, sizeof bytes, 0);
  if (got < 0) return failure_of(kStepHeader, "", "cannot read the header");
  ByteSpan in(bytes, static_cast<size_t>(got));
  return header.decode_from(&in, swap);
}

int Tic::read_toc(bool force) {
  Outcome loaded = load_tables(force);
  if (!loaded) read_failure_ = loaded.failure();
  return loaded ? 0 : -1;
}

Outcome Tic::load_tables(bool force) {
  const std::string archive = path_ != nullptr ? path_ : "";
  if (!descriptor_.valid()) return read_failure_.failed() ? read_failure_ : refusal_of(kStepNotOpen, archive);
  if (tables_kept_) return Outcome();
  if (!force && !toc_.file_map.empty()) return Outcome();
  TicHeader header;
  bool swap;
  Outcome loaded = read_tic_header(descriptor_.get(), header, &swap);
  if (loaded) {
    // The bytes as they lie in the file, for a check that reads them again.
    TicHeader as_read = header;
    if (swap) as_read.swap_endian();
    std::memcpy(loaded_header_, &as_read, sizeof loaded_header_);
    loaded = toc_.read(descriptor_.get(), header, swap);
  }
  if (loaded) return loaded;
  return loaded.failure().about(archive);
}

void Tic::keep_tables() { tables_kept_ = true; }

const TicTocEntry* Tic::find_file(const std::string& name) const {
  auto found = toc_.file_map.find(name);
  return found == toc_.file_map.end() ? nullptr : &found->second;
}

int Tic::seek_file(const std::string& name) {
  if (read_toc(false) == -1) return publish_step(kStepSeekLoadToc);
  const TicTocEntry* entry = find_file(name);
  if (entry == nullptr || entry->data_offset == 0) return -1;
  if (!seek_exact(descriptor_.get(), entry->data_offset)) return publish_step(kStepSeekData);
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
    no_engine(path_, "no extraction engine").publish();
    return -1;
  }
  return extractor_->extract(*this, options, backup_dir);
}

int Tic::compress(const a_dir_scan_info* scan, bool all) {
  const Outcome built = compressor_ != nullptr && scan != nullptr ? compressor_->compress(*this, *scan, all)
                                                                  : no_engine(path_, "no archive builder");
  if (!built) built.failure().publish();
  return ERROR != 0 ? 1 : 0;
}

int Tic::write_toc(bool all) { return compressor_ != nullptr && compressor_->write_toc(*this, all) ? 0 : -1; }

int Tic::write_dbversion(TicHeader& header) {
  return compressor_ != nullptr && compressor_->write_dbversion(*this, header) ? 0 : -1;
}
