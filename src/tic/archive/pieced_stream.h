// A stored stream decoded piece by piece on several workers.
//
// The stored bytes are read, added to the HMAC and decrypted in order on
// the thread that reads the stream: the HMAC and the record transform are
// serial by nature, and cheap beside the decompression. The decrypted bytes
// are cut where the next piece starts (tic/format/stream_pieces.h) and each
// piece is decoded on its own by whichever worker is free
// (a_job_turn::share); the decoded pieces come out in order.
//
// A piece counts only when it decodes without error to exactly where the
// next one was found. Anything else (a start that was only a pattern inside
// compressed data, damage, a piece too large to hold, a stream without
// pieces) hands the rest of the stream, from that piece on, to one decoder
// that reads it as a single stream is read. So what comes out is what a
// single decoder gives, or fails where it fails. Bytes that follow the
// compressed data count as left over (drain) as they do for a single
// decoder.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "platform/ordered_jobs.h"
#include "tic/archive/decompressor.h"
#include "tic/archive/stream_support.h"
#include "tic/archive/archive_steps.h"
#include "tic/format/stream_pieces.h"

struct a_piece;

class PiecedStream {
 public:
  // Reads the stream of |support|, whose position, count, transform and
  // HMAC are set up, sharing the decoding through |turn|.
  PiecedStream(a_tic_support& support, const a_job_turn& turn);
  // Waits for the pieces still being decoded.
  ~PiecedStream();
  PiecedStream(const PiecedStream&) = delete;
  PiecedStream& operator=(const PiecedStream&) = delete;

  // The next decoded bytes, in order: their number (at *data, valid until
  // the next call), 0 at the end of the stream, -1 on failure. It serves
  // libarchive's read callback, which can return only a status: the
  // failure is kept (failure()) for the reader's owner.
  ssize_t next(const void** data);
  const a_failure& failure() const { return failure_; }

  // Once the caller has what it wants: adds the stored bytes not read yet
  // to the HMAC without decoding them. A failure when more than a block's
  // worth of stored bytes was left to no decoder (as for a single decoder),
  // or they cannot be read.
  Outcome drain();

  a_compression compression() const { return compression_; }

 private:
  bool read_more();
  bool cut();
  void settle(a_piece& piece);
  void start_single_decoder();
  ssize_t next_from_single_decoder(const void** data);

  // The single decoder's input: the bytes held back for it, then the
  // stored bytes not read yet.
  class a_rest_source : public a_compressed_source {
   public:
    explicit a_rest_source(PiecedStream& stream) : stream_(stream) {}
    Result<size_t> next(const unsigned char** bytes) override;

   private:
    PiecedStream& stream_;
  };

  a_tic_support& support_;
  const a_job_turn& turn_;
  a_compression compression_ = a_compression::kUnknown;
  PieceFinder finder_{a_compression::kUnknown};
  bool started_ = false;
  bool input_ended_ = false;
  // No more pieces are cut: the rest goes to the single decoder.
  bool uncut_ = false;
  // Decrypted stored bytes from the start of the piece being cut.
  std::vector<unsigned char> pending_;
  // Pieces cut and not yet handed out, in order.
  std::deque<std::unique_ptr<a_piece>> pieces_;
  // The piece being handed out.
  std::unique_ptr<a_piece> current_;
  bool any_handed_out_ = false;
  // Bytes of the pieces handed out that follow their compressed data.
  uint64_t untaken_ = 0;
  // The single decoder, with the bytes it reads before the stored ones not
  // read yet.
  a_rest_source rest_{*this};
  std::unique_ptr<Decompressor> single_;
  std::vector<unsigned char> held_;
  bool held_given_ = false;
  uint64_t single_given_ = 0;  // bytes given to the single decoder
  std::vector<unsigned char> block_;
  a_failure failure_;
};
