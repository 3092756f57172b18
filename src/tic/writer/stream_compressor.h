// One scanned file compressed into its stored stream, apart from the
// archive until its turn to be appended.
//
// A stream is a compressed pax archive of exactly one tar entry, encrypted
// under the archive key (the last block zero-padded to 8 bytes, the chain
// fresh for every stream) and covered by the stream's own HMAC. The tar
// bytes are cut into pieces of a fixed size (tic/format/stream_pieces.h),
// each compressed on its own, through libarchive's bzip2 filter or libzstd
// (its window capped at kMaxZstdWindowLog), and the pieces follow one
// another: a bzip2 stream after another, or a zstd frame after another. A file larger than one piece has its pieces
// compressed on every worker the job's turn shares them with; the bytes do
// not depend on which. A keyed zstd stream ends in a skippable frame that
// brings it to whole 8-byte records, so that no zero padding follows the
// last frame (a zstd reader would take it for the start of a frame).
//
// A stream depends only on its file, so several are compressed at once, on
// any thread. Nothing of the moment of the build reaches a stream: the tar
// entry carries no access or change time, its modification time in whole
// seconds and, with a source date epoch, no later than it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/fd.h"
#include "tic/archive/stream_support.h"
#include "tic/writer/writer_steps.h"
#include "tic/format/stream_pieces.h"

class a_job_turn;

// The stored bytes of one stream until they are appended to the archive:
// in memory up to a limit, the rest in an unnamed temporary file beside the
// archive (the disk that takes the archive takes its streams, and nothing
// is left behind).
class StreamSink : public StoredSink {
 public:
  explicit StreamSink(const std::string& spill_directory) : spill_directory_(spill_directory) {}

  // False (errno set) when the temporary file cannot take the bytes.
  bool append(const unsigned char* bytes, size_t size) override;
  // Writes every byte at the descriptor's position; false (errno set) on a
  // short write or read.
  bool copy_to(int descriptor) const;

 private:
  bool open_spill();

  const std::string& spill_directory_;
  std::vector<unsigned char> memory_;
  UniqueFd spill_;
  uint64_t spilled_ = 0;
};

// What every stream of one build shares, lent read-only to the workers.
struct a_stream_settings {
  const unsigned char* key = nullptr;  // null: no key
  int key_length = 0;
  std::string archive;                 // the archive's path, for failures
  std::string spill_directory;         // where streams spill: the archive's
  dev_t archive_device = 0;            // the archive, to leave it out
  ino_t archive_inode = 0;             //   when the scan finds it (inode 0: none)
  bool has_source_date_epoch = false;
  long long source_date_epoch = 0;
  a_compression compression = a_compression::kBzip2;
  // zstd's level; bzip2's follows from the size of the file.
  int zstd_level = kDefaultZstdLevel;
};

// One scanned path on its way into the archive.
struct a_stream_job {
  std::string path;
  // Filled by compress_stream. A failure (about the file, or the archive
  // when it is the archive's disk that failed) is kept until the stream's
  // turn to be written, so that the one reported is the first in path
  // order, whatever the jobs.
  bool is_archive = false;  // the archive itself, found in the tree
  a_failure failure;
  unsigned long mode = 0;
  uint64_t size = 0;
  uint64_t stored_length = 0;
  unsigned char mac[32] = {};
  std::unique_ptr<StreamSink> sink;
};

// Compresses |job|'s path into its sink, sharing the pieces of a large file
// through |turn|. Runs on any thread: it touches nothing but the job and
// what the settings lend.
void compress_stream(const a_stream_settings& settings, a_stream_job& job, const a_job_turn& turn);
