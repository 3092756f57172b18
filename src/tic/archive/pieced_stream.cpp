#include "tic/archive/pieced_stream.h"

#include <archive_entry.h>
#include <errno.h>

#include <algorithm>
#include <iterator>

namespace {

// Stored bytes read at a time: a multiple of the transform's 8-byte records.
constexpr size_t kReadChunk = 256 * 1024;
static_assert(kReadChunk % 8 == 0);

std::string reader_message(struct archive* a) {
  const char* message = archive_error_string(a);
  return message != nullptr ? message : "";
}

// A mebibyte of zero bytes, compressed: a bzip2 stream ("bzip2 -9"), and a
// zstd frame that states its size. The single decoder that takes over after
// a piece reads this first and drops what it decodes to. libarchive's
// decoders fill a whole output block before they hand anything on, and a
// reader takes its first look at the data before the data is read: without
// a lead, damage in the piece's first block would fail that first look, not
// the read of the data as it does when the whole stream is read.
constexpr size_t kLeadDecoded = 1024 * 1024;
constexpr unsigned char kBzip2Lead[] = {
    0x42, 0x5a, 0x68, 0x39, 0x31, 0x41, 0x59, 0x26, 0x53, 0x59, 0x38, 0x57, 0x1c, 0xe5, 0x00, 0x08,
    0x08, 0x40, 0x00, 0xc0, 0x04, 0x00, 0x08, 0x20, 0x00, 0x30, 0xcc, 0x05, 0x29, 0xa6, 0x08, 0x06,
    0xc4, 0x20, 0x1e, 0x2e, 0xe4, 0x8a, 0x70, 0xa1, 0x20, 0x70, 0xae, 0x39, 0xca};
constexpr unsigned char kZstdLead[] = {
    0x28, 0xb5, 0x2f, 0xfd, 0xa0, 0x00, 0x00, 0x10, 0x00, 0x4c, 0x00, 0x00, 0x08, 0x00, 0x01, 0x00, 0xfc,
    0xff, 0x39, 0x10, 0x02, 0x02, 0x00, 0x10, 0x00, 0x02, 0x00, 0x10, 0x00, 0x02, 0x00, 0x10, 0x00, 0x02,
    0x00, 0x10, 0x00, 0x02, 0x00, 0x10, 0x00, 0x02, 0x00, 0x10, 0x00, 0x03, 0x00, 0x10, 0x00};

int filter_code(a_compression compression) {
  return compression == a_compression::kZstd ? ARCHIVE_FILTER_ZSTD : ARCHIVE_FILTER_BZIP2;
}

}  // namespace

struct a_piece {
  std::vector<unsigned char> stored;  // decrypted, still compressed
  bool last = false;                  // runs to the end of the stream
  a_shared_task task;
  bool shared = false;   // queued through the turn: wait_for follows
  bool settled = false;  // decoded (or tried)
  bool clean = false;    // decoded to exactly its end
  std::vector<unsigned char> decoded;
};

namespace {

struct a_memory_source {
  const std::vector<unsigned char>* bytes;
  bool given;
};

la_ssize_t memory_read(struct archive*, void* client_data, const void** buffer) {
  a_memory_source* source = static_cast<a_memory_source*>(client_data);
  if (source->given) return 0;
  source->given = true;
  *buffer = source->bytes->data();
  return static_cast<la_ssize_t>(source->bytes->size());
}

// Decodes |piece| alone: true when it decodes without error, to at most
// kMaxPieceDecoded bytes, and (unless it is the last) its compressed data
// ends exactly where the piece does. The filter is set, not guessed, so
// the decoded bytes are never taken for compressed ones in turn.
bool decode_piece(a_piece& piece, a_compression compression, size_t expected) {
  Unique<struct archive, archive_read_free> reader(archive_read_new());
  struct archive* a = reader.get();
  if (a == nullptr) return false;
  a_memory_source source{&piece.stored, false};
  struct archive_entry* entry = nullptr;
  if (archive_read_append_filter(a, filter_code(compression)) != ARCHIVE_OK ||
      archive_read_support_format_raw(a) != ARCHIVE_OK ||
      archive_read_open(a, &source, nullptr, memory_read, nullptr) != ARCHIVE_OK ||
      archive_read_next_header(a, &entry) != ARCHIVE_OK)
    return false;
  piece.decoded.reserve(expected);
  for (;;) {
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    const int status = archive_read_data_block(a, &block, &size, &offset);
    if (status == ARCHIVE_EOF) break;
    if (status != ARCHIVE_OK || size > kMaxPieceDecoded - piece.decoded.size()) return false;
    const unsigned char* bytes = static_cast<const unsigned char*>(block);
    piece.decoded.insert(piece.decoded.end(), bytes, bytes + size);
  }
  // Filter 1 is the one below the decompressor: the stored bytes it took.
  return piece.last || archive_filter_bytes(a, 1) == static_cast<la_int64_t>(piece.stored.size());
}

}  // namespace

PiecedStream::PiecedStream(a_tic_support& support, const a_job_turn& turn) : support_(support), turn_(turn) {}

PiecedStream::~PiecedStream() {
  for (const std::unique_ptr<a_piece>& piece : pieces_)
    if (piece->shared) turn_.wait_for(piece->task);
}

bool PiecedStream::read_more() {
  const size_t had = pending_.size();
  pending_.resize(had + kReadChunk);
  errno = 0;
  const ssize_t got = read_stored(&support_, pending_.data() + had, kReadChunk);
  pending_.resize(had + (got > 0 ? static_cast<size_t>(got) : 0));
  if (got < 0) return failure_.set(kStepReadData, got == kStoredHashFailed ? "Error adding data to hash" : "");
  if (got == 0) input_ended_ = true;
  return true;
}

// Cuts pieces off the pending bytes and shares them, while there is room.
bool PiecedStream::cut() {
  if (!started_) {
    started_ = true;
    while (pending_.size() < kCompressionSniffSize && !input_ended_)
      if (!read_more()) return false;
    compression_ = compression_of(pending_.data(), pending_.size());
    finder_ = PieceFinder(compression_);
    if (compression_ == a_compression::kUnknown) uncut_ = true;
  }
  // Pieces that found no room before go first.
  for (const std::unique_ptr<a_piece>& piece : pieces_) {
    if (piece->shared || piece->settled) continue;
    if (!turn_.share(piece->task)) return true;
    piece->shared = true;
  }
  while (!uncut_) {
    size_t start = finder_.find(pending_.data(), pending_.size());
    while (start == PieceFinder::kNone && !input_ended_ && pending_.size() <= kMaxPieceStored) {
      if (!read_more()) return false;
      start = finder_.find(pending_.data(), pending_.size());
    }
    if (start == PieceFinder::kNone && !input_ended_) {
      uncut_ = true;  // a piece too long to hold
      return true;
    }
    if (pending_.empty()) return true;
    auto piece = std::make_unique<a_piece>();
    if (start == PieceFinder::kNone) {
      piece->stored.swap(pending_);
      piece->last = true;
    } else {
      piece->stored.assign(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(start));
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(start));
      finder_.reset();
    }
    const size_t expected = compression_ == a_compression::kZstd ? kZstdPieceSize : kBzip2PieceSize;
    a_piece* p = piece.get();
    piece->task.run = [p, compression = compression_, expected] { p->clean = decode_piece(*p, compression, expected); };
    piece->shared = turn_.share(piece->task);
    const bool shared = piece->shared;
    const bool last = piece->last;
    pieces_.push_back(std::move(piece));
    // Without room the piece waits here, to be decoded on this thread when
    // its turn comes (or shared later).
    if (!shared || last || pieces_.size() > turn_.share_limit()) return true;
  }
  return true;
}

void PiecedStream::settle(a_piece& piece) {
  if (piece.shared) {
    turn_.wait_for(piece.task);
    piece.shared = false;
  } else if (!piece.settled) {
    piece.task.run();
  }
  piece.settled = true;
}

ssize_t PiecedStream::next(const void** data) {
  for (;;) {
    // The piece handed out by the last call is done with.
    current_.reset();
    if (failure_.failed()) return -1;
    if (single_) return single_ended_ ? 0 : next_from_single_decoder(data);
    if (!cut()) return -1;
    if (pieces_.empty()) {
      if (!uncut_) return 0;
      start_single_decoder();
      continue;
    }
    a_piece& front = *pieces_.front();
    settle(front);
    if (!front.clean) {
      start_single_decoder();
      continue;
    }
    current_ = std::move(pieces_.front());
    pieces_.pop_front();
    any_handed_out_ = true;
    if (current_->decoded.empty()) continue;
    current_->stored = std::vector<unsigned char>();
    *data = current_->decoded.data();
    return static_cast<ssize_t>(current_->decoded.size());
  }
}

// From the first piece not handed out, the rest of the stream goes to one
// decoder: the pieces cut, the pending bytes, then the stored bytes.
void PiecedStream::start_single_decoder() {
  held_.clear();
  if (any_handed_out_) {
    if (compression_ == a_compression::kZstd)
      held_.assign(std::begin(kZstdLead), std::end(kZstdLead));
    else
      held_.assign(std::begin(kBzip2Lead), std::end(kBzip2Lead));
    lead_left_ = kLeadDecoded;
  }
  for (const std::unique_ptr<a_piece>& piece : pieces_) {
    if (piece->shared) turn_.wait_for(piece->task);
    held_.insert(held_.end(), piece->stored.begin(), piece->stored.end());
  }
  pieces_.clear();
  held_.insert(held_.end(), pending_.begin(), pending_.end());
  pending_.clear();
  pending_.shrink_to_fit();
  uncut_ = true;
  block_.resize(kReadChunk);

  single_.reset(archive_read_new());
  struct archive* a = single_.get();
  if (a == nullptr) {
    failure_.set(kStepReaderNew);
    return;
  }
  // At the start of the stream it is read as any stream is, the filter
  // found from its first bytes; after a piece, with the stream's own.
  const bool set_up = any_handed_out_ ? archive_read_append_filter(a, filter_code(compression_)) == ARCHIVE_OK
                                      : archive_read_support_filter_bzip2(a) == ARCHIVE_OK &&
                                            archive_read_support_filter_zstd(a) == ARCHIVE_OK;
  if (!set_up || archive_read_support_format_raw(a) != ARCHIVE_OK) {
    failure_.set(kStepBzip2, reader_message(a));
    return;
  }
  errno = 0;
  if (archive_read_open(a, this, nullptr, single_decoder_read, nullptr) != ARCHIVE_OK) {
    failure_.set(kStepReaderOpen, reader_message(a));
    return;
  }
  struct archive_entry* entry = nullptr;
  errno = 0;
  const int status = archive_read_next_header(a, &entry);
  if (status == ARCHIVE_EOF) {
    single_ended_ = true;
  } else if (status != ARCHIVE_OK) {
    failure_.set(kStepReadData, reader_message(a));
  }
}

la_ssize_t PiecedStream::single_decoder_read(struct archive* a, void* client_data, const void** buffer) {
  PiecedStream* self = static_cast<PiecedStream*>(client_data);
  if (!self->held_given_) {
    self->held_given_ = true;
    if (!self->held_.empty()) {
      *buffer = self->held_.data();
      self->single_given_ += self->held_.size();
      return static_cast<la_ssize_t>(self->held_.size());
    }
  }
  const ssize_t got = read_stored(&self->support_, self->block_.data(), self->block_.size());
  if (got < 0) {
    archive_set_error(a, errno, got == kStoredHashFailed ? "Error adding data to hash" : "Error reading TIC, fd %d",
                      self->support_.descriptor);
    return ARCHIVE_FATAL;
  }
  *buffer = self->block_.data();
  self->single_given_ += static_cast<uint64_t>(got);
  return got;
}

ssize_t PiecedStream::next_from_single_decoder(const void** data) {
  for (;;) {
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    errno = 0;
    const int status = archive_read_data_block(single_.get(), &block, &size, &offset);
    if (status == ARCHIVE_EOF) return 0;
    if (status != ARCHIVE_OK) {
      failure_.set(kStepReadData, reader_message(single_.get()));
      return -1;
    }
    const size_t lead = std::min(size, lead_left_);
    lead_left_ -= lead;
    if (size == lead) continue;
    *data = static_cast<const unsigned char*>(block) + lead;
    return static_cast<ssize_t>(size - lead);
  }
}

Outcome PiecedStream::drain() {
  // What no decoder took: pieces not handed out, bytes not cut, what the
  // single decoder was given beyond the end of its data, and what was
  // never read. As when a single decoder reads the whole stream, at most a
  // block of it may be left.
  uint64_t left = support_.count + pending_.size();
  for (const std::unique_ptr<a_piece>& piece : pieces_) {
    if (piece->shared) turn_.wait_for(piece->task);
    left += piece->stored.size();
  }
  pieces_.clear();
  current_.reset();
  if (single_) {
    const la_int64_t taken = archive_filter_bytes(single_.get(), 1);
    const uint64_t given = single_given_ + (held_given_ ? 0 : held_.size());
    if (taken >= 0 && static_cast<uint64_t>(taken) < given) left += given - static_cast<uint64_t>(taken);
  }
  if (left > kIoBlockSize) return refusal_of(kStepLeftOver, "");
  unsigned char rest[kIoBlockSize];
  for (;;) {
    errno = 0;
    const ssize_t got = read_stored(&support_, rest, sizeof rest);
    if (got < 0) return failure_of(kStepTail, "");
    if (got == 0) return Outcome();
  }
}
