// The compressed bytes of a stream decoded: bzip2 streams one after
// another, or zstd frames (skippable ones passed over); bytes that start as
// neither pass through as they are, for the tar reader to judge.
//
// Memory does not follow what a stream claims. A zstd frame that declares a
// window over kMaxZstdWindow fails before anything is made for it; bzip2
// needs at most what its largest block (900 kB) takes, 3.6 MB of tables.
// Decoders are set up once and kept: an object takes a set when it begins
// and puts it back when it is destroyed, and the process keeps up to
// kKeptDecoders sets, so that the many small streams of an archive do not
// each map, fill and unmap a decoder's tables.
//
// The compressed bytes come from a source in blocks of its own; the decoded
// bytes come out in blocks of the object's, like a libarchive filter's.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/failure.h"
#include "tic/archive/archive_steps.h"
#include "tic/format/stream_pieces.h"

class a_compressed_source {
 public:
  virtual ~a_compressed_source() = default;
  // The next compressed bytes: their number (at *bytes, valid until the
  // next call), 0 at the end; or why they cannot be had.
  virtual Result<size_t> next(const unsigned char** bytes) = 0;
};

struct a_decoder_set;

class Decompressor {
 public:
  static constexpr size_t kMaxZstdWindow = size_t{1} << kMaxZstdWindowLog;
  // Decoder sets the process keeps for reuse.
  static constexpr size_t kKeptDecoders = 16;

  Decompressor();
  ~Decompressor();
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  // Begins decoding what |source| gives (it must outlive the decoding).
  // With kUnknown the compression is told from the first bytes.
  void begin(a_compressed_source& source, a_compression compression = a_compression::kUnknown);

  // The next decoded bytes: their number (at *data, valid until the next
  // call), 0 once the compressed data has ended, -1 on failure.
  ssize_t next(const void** data);

  // The compression found; kUnknown before the first bytes are read, or
  // when they pass through as they are.
  a_compression compression() const { return compression_; }
  // Compressed bytes taken from the source. Those after the end of the
  // compressed data (bytes that begin no bzip2 stream) are not taken.
  uint64_t taken() const { return taken_; }
  // kStepReadData with why, or the source's failure. next() feeds a
  // libarchive reader, which takes only a count or a status: the failure
  // behind its -1 is kept here.
  const a_failure& failure() const { return failure_; }

 private:
  bool fill();
  bool look_ahead(size_t wanted);
  void take(size_t n);
  ssize_t fail(const std::string& cause);
  ssize_t next_bzip2(const void** data);
  ssize_t next_zstd(const void** data);
  ssize_t next_as_is(const void** data);
  void end_bzip2_stream();

  a_compressed_source* source_ = nullptr;
  a_compression compression_ = a_compression::kUnknown;
  bool told_ = false;   // the compression is known (or the bytes go as they are)
  bool ended_ = false;  // the compressed data has ended
  bool source_ended_ = false;
  bool in_stream_ = false;  // inside a bzip2 stream or a zstd frame
  // The source's bytes not taken yet: in its last block, or in |ahead_|
  // when they were gathered to look ahead.
  const unsigned char* in_ = nullptr;
  size_t in_left_ = 0;
  std::vector<unsigned char> ahead_;
  uint64_t taken_ = 0;
  std::unique_ptr<a_decoder_set> decoders_;
  a_failure failure_;
};
