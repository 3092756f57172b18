// One TIC archive file.
//
// File layout:
//   0                 header (104 bytes, written last by the builder)
//   104               one stored stream per file, back to back
//   version_offset    version stamp block
//   toc_offset        entry table, then option table, then string table
//
// A Tic owns its read-only descriptor and its table of contents. The key and
// the path are borrowed: the caller's storage must outlive the object.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/fd.h"
#include "tic/format/header.h"
#include "tic/format/toc.h"

struct a_tic_support;
struct a_dir_scan_info;
struct archive;
class Tic;

// Extraction (install/extraction.h) and the archive builder
// (tic/writer/builder.h) lie in layers above the archive: Tic::extract and
// Tic::compress hand their work to the engines given to the object through
// these interfaces, which the archive layer owns.
class TicExtractor {
 public:
  virtual ~TicExtractor() = default;
  // Extracts the files |options| selects from |archive| into the current
  // directory, keeping what they replace below |backup_dir| when it is not
  // empty: 0, or -1 with the failure recorded.
  virtual int extract(Tic& archive, const std::string& options, const std::string& backup_dir) = 0;
};

class TicCompressor {
 public:
  virtual ~TicCompressor() = default;
  // Builds |archive| from its table of contents and the files |scan| names.
  virtual Outcome compress(Tic& archive, const a_dir_scan_info& scan, bool all) = 0;
  // The builder's finishing steps (stamp block, tables, header), and the
  // stamp block alone, on |archive|'s descriptor.
  virtual Outcome write_toc(Tic& archive, bool all) = 0;
  virtual Outcome write_dbversion(Tic& archive, TicHeader& header) = 0;
};

// One selected file whose stream an operation reads: its name and its entry
// in the archive's (or set's) table of contents, both the table's own (they
// live as long as the table), the descriptor of the archive that holds the
// stream, and the file's place among the selected files in name order.
struct a_stream_ref {
  const std::string* name = nullptr;
  const TicTocEntry* entry = nullptr;
  int descriptor = -1;
  // A table of 2^32 entries would not fit in memory.
  uint32_t rank = 0;
};
static_assert(sizeof(a_stream_ref) <= 24, "one reference per selected file: kept small");

// Whether the option mask |mask| selects |entry|: an entry with a stream
// in one of its options, or with |all| any entry in one.
inline bool selects(const TicTocEntry& entry, unsigned long long mask, bool all) {
  return (all || entry.data_offset != 0) && (entry.mask & mask) != 0;
}

// Which archive holds the stream of each name, asked in name order: for a
// set, the member that supplies it.
class a_stream_locator {
 public:
  virtual ~a_stream_locator() = default;
  // The descriptor of the archive holding |name|'s stream, or -1.
  // REQUIRES: each name asked for is above the one before.
  virtual int descriptor_of(std::string_view name) = 0;
};

// Reads the 104-byte header at offset 0 of the archive open on |descriptor|
// and brings it into this machine's byte order (TicHeader::decode_from);
// |*swap| tells whether the archive is in the other order. A failure of
// kStepHeader when the file holds fewer bytes or cannot be read.
Outcome read_tic_header(int descriptor, TicHeader& header, bool* swap);

class Tic {
 public:
  // Stores the arguments and opens |path| as open() does, silently; a null
  // or unopenable path leaves an object that is not open.
  Tic(const char* path, bool verbose, const unsigned char* key, int key_length);
  virtual ~Tic();
  Tic(const Tic&) = delete;
  Tic& operator=(const Tic&) = delete;

  // Whole-archive integrity check: 0 when the header's MAC matches.
  virtual int validate() const;
  // The same check told as a failure, about the archive (for a set, the
  // first member that fails it): it is not open (why), its code cannot be
  // computed (kStepComputeMac) or does not match (kStepArchiveMac).
  virtual Outcome integrity() const;
  // Loads the table of contents; 0 on success or when already loaded.
  virtual int read_toc(bool force);
  // The descriptor positioned at the first stored byte of |name|'s stream,
  // or -1 (also when the entry has no stream here).
  virtual int seek_file(const std::string& name);
  // Per-file hooks of the builder and of extraction; the base versions print
  // "Compressing %s" / "Extracting %s" when verbose.
  virtual void compression_progress(const std::string& name, unsigned long long size, unsigned long mode,
                                    unsigned long long done, unsigned long long total);
  virtual void extraction_progress(const std::string& name, unsigned long long size, unsigned long mode,
                                   unsigned long long done, unsigned long long total);
  // From now on the tables stay as they are: read_toc reads nothing again,
  // not even when forced or when the tables are empty, so the tables in use
  // remain those a check of the archive (its signature) has seen. A set
  // keeps its members' tables and merges them once more.
  virtual void keep_tables();
  // The archive files this object reads: itself, or a set's members.
  virtual std::vector<const Tic*> archives() const { return {this}; }

  // For an object that is not open: opens |path| read-only and loads the
  // table of contents. 0, or -1 (and closed again) on failure; only a
  // regular file (or a symbolic link to one) is opened, so a FIFO or a
  // device never blocks or streams forever.
  int open(const char* path);
  // Why the archive cannot be read, about its path: it did not open (the
  // system's reason, "not a regular file", or what is wrong with its
  // header or tables: "table cut short"), or its tables did not load when
  // last read; for a set, the first member that failed so. No failure
  // while everything read.
  const a_failure& read_failure() const { return read_failure_; }

  // Names the file of an object that is not open, without opening it: the
  // archive the builder is about to create.
  void set_path(const char* path) { path_ = path; }
  void set_verbose(bool verbose) { verbose_ = verbose; }
  void set_encryption_key(const unsigned char* key, int length) {
    key_ = key;
    key_length_ = length;
  }
  void set_product_name(const std::string& name) { product_name_ = name; }
  const std::string& product_name() const { return product_name_; }
  const char* path() const { return path_; }
  int descriptor() const { return descriptor_.get(); }
  bool has_key() const { return key_ != nullptr && key_length_ >= 1; }
  const unsigned char* key() const { return key_; }
  int key_length() const { return key_length_; }

  TicToc& get_toc() { return toc_; }
  const TicToc& get_toc() const { return toc_; }
  // The 104 header bytes the table of contents was loaded from, as they
  // were read (zero before the first load).
  const unsigned char* loaded_header() const { return loaded_header_; }

  // The entry stored under exactly |name|, or null; does not load the table.
  const TicTocEntry* find_file(const std::string& name) const;

  // True when |path| and the archive's own path resolve to the same file.
  bool compressing_me(const std::string& path) const;

  // Integrity and encryption.
  int validate_mac() const;
  int compute_mac(long long offset, unsigned char* out, unsigned int out_length) const;
  void init_encryption(a_tic_support* support) const;

  // Extraction of the files selected by |options| into the current
  // directory, by the extractor given with set_extractor; -1 with the
  // failure recorded when there is none.
  int extract(const std::string& options, const std::string& backup_dir);
  void set_extractor(TicExtractor* extractor) { extractor_ = extractor; }

  // The files selected by |options| that have a stream, in the order their
  // streams lie (data offset, then name), each with the descriptor of the
  // archive that holds it. -1 when the table of contents cannot be read.
  // The references point into the table: reading it again (read_toc with
  // force) leaves them dangling.
  // With |keep|, only the files it keeps are referenced, each still with
  // its rank among all the selected files: an upgrade that rewrites few
  // files holds references to those alone.
  using a_stream_filter = std::function<bool(const a_stream_ref& ref)>;
  int selected_streams(const std::string& options, std::vector<a_stream_ref>& out,
                       const a_stream_filter& keep = nullptr);
  // The same files one at a time, in name order, each with its rank and
  // the descriptor of the archive that holds it: nothing is kept per file.
  // -1, with nothing visited, when the table of contents cannot be read.
  int for_each_selected_stream(const std::string& options, const std::function<void(const a_stream_ref&)>& visit);
  // Finds the archive holding each stream, asked in name order.
  virtual std::unique_ptr<a_stream_locator> stream_locator() const;

  // Checks every stream of the archive against its entry's MAC, reading the
  // streams in the order they lie: the failure is about the first file
  // whose stream does not match, or the archive when its tables cannot be
  // read.
  Outcome validate_streams();

  // Listing and sizing.
  //
  // Calls |visit(name, entry)| for each entry |options| selects, in name
  // order: those with a stream, and with |all| those without too. -1, with
  // nothing visited, when the table of contents cannot be read.
  template <typename Visit>
  int for_each_selected(const std::string& options, bool all, Visit visit);
  int list(TicToc& out, const std::string& options, bool all);
  unsigned long long bytes_required(const std::string& options);
  int list();

  // Writing, by the compressor given with set_compressor, from the table
  // of contents and the files |scan| names; 1 when ERROR is set at the end,
  // the build's failure published (also when there is no compressor).
  int compress(const a_dir_scan_info* scan, bool all);
  // The builder's finishing steps (stamp block, tables, header), and the
  // stamp block alone, on the object's descriptor; -1 on failure.
  int write_toc(bool all);
  int write_dbversion(TicHeader& header);
  void set_compressor(TicCompressor* compressor) { compressor_ = compressor; }

  // Stream for per-file log lines; standard error unless replaced.
  FILE* log_stream;

 protected:
  // Loads the tables unless they are loaded (or kept); the failure is about
  // the archive's path.
  Outcome load_tables(bool force);
  // Opens path_ and loads its tables; closed again on failure.
  Outcome open_archive();
  // The header's code compared with the code of the tables: 0 when they
  // match, memcmp's result when not; a failure of kStepComputeMac when the
  // header cannot be read or the code cannot be computed.
  Result<int> compare_mac() const;

  const char* path_;
  UniqueFd descriptor_;
  bool verbose_;
  const unsigned char* key_;
  int key_length_;
  std::string product_name_;
  TicToc toc_;
  unsigned char loaded_header_[TicHeader::kSize] = {};
  bool tables_kept_ = false;
  a_failure read_failure_;
  TicExtractor* extractor_ = nullptr;
  TicCompressor* compressor_ = nullptr;
};

template <typename Visit>
int Tic::for_each_selected(const std::string& options, bool all, Visit visit) {
  if (read_toc(false) == -1) return -1;
  const unsigned long long mask = std::as_const(toc_.options).option_mask(options);
  for (const auto& [name, entry] : toc_.file_map) {
    if (selects(entry, mask, all)) visit(name, entry);
  }
  return 0;
}
