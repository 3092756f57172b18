// The archive builder: writes the TIC archive a Tic names from its prepared
// table of contents and a directory scan (Tic::compress, Tic::write_toc and
// Tic::write_dbversion enter it).
//
// Every scanned file becomes its own stream (tic/writer/stream_compressor.h);
// several are compressed at once (set_jobs) and appended to the archive one
// after another in the scan's byte-wise path order, so the archive is the
// same whatever the number of jobs. The streams lie back to back from
// offset 104. After the last one come the version stamp block and the
// tables; the header, with the whole-archive MAC over the tables, is
// written last over the 104 zero bytes left at the start. A build that
// fails leaves the file without a header.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

#include "tic/archive/tic.h"
#include "tic/writer/build_version.h"
#include "tic/format/stream_pieces.h"

struct a_dir_scan_info;

// A scanned path that cannot be archived, and why: a failure about the
// path, and what kind of refusal it is.
struct a_build_refusal {
  enum Kind {
    kEntryName,    // no name inside an install directory (valid_entry_name)
    kNameTooLong,  // longer than the string table holds
    kMissing,      // not there (or not to be looked at): the failure's errno
    kFileType,     // not a regular file, directory or symbolic link: |mode|
  };
  Kind kind;
  a_failure failure;
  mode_t mode = 0;
};

class TicBuilder {
 public:
  // Builds the archive |archive| names, from its table of contents.
  explicit TicBuilder(Tic& archive);

  // How the build goes: Tic::compress builds with one job, the stamp in
  // local time, and no version information.
  void set_jobs(unsigned jobs) { jobs_ = jobs < 1 ? 1 : jobs; }
  void set_source_date_epoch(long long epoch);
  // bzip2 (the default), or zstd at |zstd_level|.
  void set_compression(a_compression compression, int zstd_level = kDefaultZstdLevel) {
    compression_ = compression;
    zstd_level_ = zstd_level;
  }
  void set_version_info(const a_stamp_entries& entries) { version_.version_info = entries; }
  // The header version and the stamp entries of an archive built now.
  void build_version(TicHeader& header, a_stamp_entries& stamp) const;

  // Before anything is written: every scanned path must make an entry name,
  // be there, be a regular file, a directory or a symbolic link, and be
  // listed in the table of contents (a directory only to be stored; the
  // archive itself is left out). Each that is not goes to |refuse|, in
  // path order, except an unlisted one, which gets "File not in toc: %s\n"
  // on standard error. Adds the sizes of the regular files to archive to
  // |*total|. True when every path can be archived.
  bool check(const a_dir_scan_info& scan, const std::function<void(const a_build_refusal&)>& refuse,
             unsigned long long* total);

  // Writes the archive. A scanned path the table of contents does not list
  // prints "File not in toc: %s\n" and fails with kStepNotInToc; every
  // other failure is about the file being archived or the archive.
  Outcome compress(const a_dir_scan_info& scan, bool all);

  // The finishing steps on |descriptor|, open for writing after the last
  // stream: stamp block, tables, header. A failure of kStepFinish.
  Outcome write_tables(int descriptor, bool all);
  // Appends the stamp block that goes with |header| at the descriptor's
  // position and records its place in |header|. A failure of kStepFinish.
  Outcome write_stamp(int descriptor, TicHeader& header);

 private:
  // The streams compressed, in path order, each appended in turn to
  // |descriptor| from offset 104.
  Outcome write_streams(int descriptor, const a_dir_scan_info& scan);
  // The archive's path, for failures.
  std::string archive() const { return tic_.path() != nullptr ? tic_.path() : ""; }

  Tic& tic_;
  unsigned jobs_ = 1;
  a_compression compression_ = a_compression::kBzip2;
  int zstd_level_ = kDefaultZstdLevel;
  a_build_version version_;
};

// The builder as Tic::compress, Tic::write_toc and Tic::write_dbversion reach
// it (Tic::set_compressor): one job, the stamp in local time, no version
// information.
class TicWriter : public TicCompressor {
 public:
  Outcome compress(Tic& archive, const a_dir_scan_info& scan, bool all) override;
  Outcome write_toc(Tic& archive, bool all) override;
  Outcome write_dbversion(Tic& archive, TicHeader& header) override;
};
