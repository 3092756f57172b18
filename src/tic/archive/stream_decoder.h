// Reading one stored stream of an archive: the tar entry at its start, the
// entry's data, and the check of the stream against its MAC.
//
//   StreamDecoder decoder(key, key_length);
//   decoder.open(descriptor, data_offset, stored_length);  // the tar header
//   ... decoder.entry() ...
//   decoder.read(buffer, size) ... until it reads 0       // the data
//   decoder.finish(entry.mac);                             // every stored byte
//                                                          // read and checked
// Nothing that comes out of a stream can be trusted before finish() has
// compared the stream with its MAC: callers keep what they make of it apart
// (a temporary) until then. The stream is read with positioned reads, so
// decoders of several streams of one archive can work at the same time.
// The compressed bytes are decoded in bounded memory by decoders kept for
// reuse (tic/archive/decompressor.h); libarchive reads the tar entry from
// the decoded bytes. Given a job's turn whose workers can share work, a
// large stream is decoded piece by piece on all of them
// (tic/archive/pieced_stream.h).
//
// Each operation returns its failure: a step of tic/archive/archive_steps.h,
// errno, and a cause where errno cannot say it (what the decoding or
// libarchive said); the decoder never touches ERROR, and its failures name
// nothing: the caller knows which file the stream is.
#pragma once

#include <archive.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/unique.h"
#include "tic/archive/archive_steps.h"
#include "tic/archive/decompressor.h"
#include "tic/archive/stream_support.h"
#include "tic/format/stream_pieces.h"

class a_job_turn;
class PiecedStream;
struct a_stream_ref;

// The tar entry at the start of a stream.
struct a_stream_entry {
  std::string pathname;
  unsigned long mode = 0;  // file type and permission bits, as in st_mode
  uint64_t size = 0;       // data bytes that follow the header
  std::string link_target;  // of a symbolic link
  bool hard_link = false;   // a hard link (never installed)

  bool is_regular() const;
  bool is_directory() const;
  bool is_symlink() const;
};

class StreamDecoder {
 public:
  // |key| is the archive key (null or a length below 1: none); not copied.
  StreamDecoder(const unsigned char* key, int key_length);
  ~StreamDecoder();
  StreamDecoder(const StreamDecoder&) = delete;
  StreamDecoder& operator=(const StreamDecoder&) = delete;

  // Starts reading the |stored_length| bytes at |offset| of |descriptor| and
  // reads the first tar header. With |turn|, a stream large enough to hold
  // pieces is decoded on the turn's workers too.
  Outcome open(int descriptor, uint64_t offset, uint64_t stored_length, const a_job_turn* turn = nullptr);
  // The same for the stream of a selected file (Tic::selected_streams).
  Outcome open(const a_stream_ref& ref, const a_job_turn* turn = nullptr);
  const a_stream_entry& entry() const { return entry_; }
  // How the stream is compressed, as far as it has been read.
  a_compression compression() const;

  // Reads up to |size| bytes of the entry's data into |buffer|: the number
  // read, 0 at the end of the data.
  Result<size_t> read(void* buffer, size_t size);

  // Reads what is left of the stored stream (at most one more block: a
  // longer remainder fails), finishes its HMAC and compares it with |mac|:
  // a failure also when the stream does not match (kStepMacMismatch).
  Outcome finish(const unsigned char* mac);

 private:
  // The failure of |step|, with what the reader said; a failure of the
  // decoding under it says more, and is taken instead.
  a_failure failure_at(const a_step& step) const;
  // The failure of |step|, with what the reader said.
  a_failure reader_failure(const a_step& step) const;
  // Reads, when no more than a block of it is left, what the decoder did
  // not need of the stored stream, so that the MAC covers every byte.
  Outcome read_tail();

  // The stored bytes, read, added to the HMAC and decrypted block by block.
  class a_stored_source : public a_compressed_source {
   public:
    explicit a_stored_source(a_tic_support& support) : support_(support) {}
    Result<size_t> next(const unsigned char** bytes) override;

   private:
    a_tic_support& support_;
  };

  // The decoders and the reader hold the address of |support_|, which
  // therefore is declared first and outlives them.
  a_tic_support support_;
  a_stored_source stored_{support_};
  // Decodes the stream: piece by piece, or as one.
  std::unique_ptr<PiecedStream> pieces_;
  Decompressor decompressor_;
  Unique<struct archive, archive_read_free> reader_;
  a_stream_entry entry_;
};
